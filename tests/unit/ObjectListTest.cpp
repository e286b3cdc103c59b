// Object lists, the sorted list's duplicate policies and binary search, and
// every sort mode of the archive directory.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "zip/Exception.h"
#include "zip/ObjectList.h"
#include "zip/SortedZip.h"
#include "zip/StringList.h"

namespace {

using quv::TObject;
using quv::TObjectList;
using quv::TSortedObjectList;
using quv::TSortedZip;
using quv::TZipHeaderInfo;

// Counts live instances so that ownership can be checked.
struct Tracked : TObject {
  explicit Tracked(int k = 0, int t = 0) : key(k), tag(t) { ++alive; }
  ~Tracked() override { --alive; }
  std::string ClassName() const override { return "Tracked"; }
  int key;
  int tag;
  static int alive;
};
int Tracked::alive = 0;

class KeyList : public TSortedObjectList {
 public:
  using TSortedObjectList::TSortedObjectList;
  int Compare(const TObject* a, const TObject* b) const override {
    return static_cast<const Tracked*>(a)->key - static_cast<const Tracked*>(b)->key;
  }
};

std::string ListMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const quv::EListError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ObjectList, GrowsInSmallStepsThenDoubles) {
  TObjectList list;
  std::vector<std::int32_t> capacities;
  for (int i = 0; i < 50; ++i) {
    list.Add(new Tracked(i));
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<std::int32_t>{4, 8, 16, 32, 64}));
  EXPECT_EQ(Tracked::alive, 50);
  list.FreeAll();
  EXPECT_EQ(Tracked::alive, 0);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(ObjectList, BoundsErrorsCarryTheIndexAndChangeNothing) {
  TObjectList list;
  list.SetOwnsObjects(false);
  Tracked a(1), b(2), c(3);
  list.Add(&a);
  list.Insert(1, &c);  // at Count: appends
  list.Insert(1, &b);
  EXPECT_EQ(list.Get(0), &a);
  EXPECT_EQ(list.Get(1), &b);
  EXPECT_EQ(list.Get(2), &c);
  EXPECT_EQ(ListMessage([&] { list.Insert(4, &a); }), "List index out of bounds (4)");
  EXPECT_EQ(ListMessage([&] { list.Get(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ListMessage([&] { list.Put(3, &a); }), "List index out of bounds (3)");
  EXPECT_EQ(ListMessage([&] { list.SetCapacity(2); }), "List index out of bounds (2)");
  EXPECT_EQ(ListMessage([&] { list.SetCount(-5); }), "List index out of bounds (-5)");
  EXPECT_EQ(ListMessage([&] { list.SetCount(0x1FFFFFFF); }), "List index out of bounds (536870911)");
  EXPECT_EQ(list.Count(), 3);
  list.Put(0, &c);
  EXPECT_EQ(list.IndexOf(&c), 0);
  EXPECT_EQ(list.IndexOf(&a), -1);
  list.SetCount(5);
  EXPECT_EQ(list.Get(4), nullptr);

  TObjectList empty;
  EXPECT_EQ(ListMessage([&] { empty.First(); }), "List index out of bounds (0)");
  EXPECT_EQ(ListMessage([&] { empty.Last(); }), "List index out of bounds (-1)");
}

TEST(ObjectList, NextWalksBothWays) {
  TObjectList list;
  list.SetOwnsObjects(false);
  Tracked a(1), b(2), stranger(9);
  list.Add(&a);
  EXPECT_EQ(list.Next(nullptr, true), &a);
  EXPECT_EQ(list.Next(&a, true), nullptr);
  list.Add(&b);
  EXPECT_EQ(list.Next(nullptr, false), &b);
  EXPECT_EQ(list.Next(&b, false), &a);
  EXPECT_EQ(list.Next(&a, false), nullptr);
  EXPECT_EQ(ListMessage([&] { list.Next(&stranger, true); }), "tObject Tracked not in item list");
}

TEST(ObjectList, OwnershipDecidesWhatIsFreed) {
  {
    TObjectList owning;
    auto* shared = new Tracked(1);
    owning.Add(shared);
    owning.Add(shared);  // the same reference twice is freed once
    owning.Add(nullptr);
    owning.Add(new Tracked(2));
  }
  EXPECT_EQ(Tracked::alive, 0);
  Tracked kept(3);
  {
    TObjectList borrowing;
    borrowing.SetOwnsObjects(false);
    borrowing.Add(&kept);
    borrowing.FreeObject(&kept);
  }
  EXPECT_EQ(Tracked::alive, 1);
}

TEST(SortedObjectList, DuplicatePolicies) {
  {
    KeyList list(quv::AcceptDuplicates);
    Tracked a1(5, 1), a2(5, 2), a3(5, 3), low(1), high(9);
    list.SetOwnsObjects(false);
    for (Tracked* t : {&high, &a1, &low, &a2, &a3}) EXPECT_EQ(list.Add(t), 0);
    std::vector<int> tags;
    for (int i = 0; i < list.Count(); ++i) tags.push_back(static_cast<Tracked*>(list.Get(i))->tag * 10 + static_cast<Tracked*>(list.Get(i))->key);
    EXPECT_EQ(tags, (std::vector<int>{1, 35, 25, 15, 9}));
    EXPECT_EQ(list.IndexOf(&a2), 1) << "the first of the run of equal keys";
  }
  {
    KeyList list(quv::IgnoreDuplicates);
    list.Add(new Tracked(5));
    Tracked twin(5);
    list.Add(&twin);
    EXPECT_EQ(list.Count(), 1) << "the caller keeps an ignored item";
    EXPECT_NE(list.Get(0), &twin);
  }
  {
    KeyList list(quv::RejectDuplicates);
    list.Add(new Tracked(5));
    Tracked twin(5);
    EXPECT_EQ(ListMessage([&] { list.Add(&twin); }), "Duplicate Object index");
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(ListMessage([&] { list.Put(0, &twin); }), "Cannot <Put> an Object in a sorted list!");
  }
  EXPECT_EQ(Tracked::alive, 0);
}

TEST(SortedObjectList, SearchFindsInsertionPoints) {
  KeyList list(quv::RejectDuplicates);
  for (int k : {40, 10, 30, 20}) list.Add(new Tracked(k));
  std::int32_t index = -1;
  Tracked probe(25);
  EXPECT_FALSE(list.Search(&probe, index));
  EXPECT_EQ(index, 2);
  probe.key = 40;
  EXPECT_TRUE(list.Search(&probe, index));
  EXPECT_EQ(index, 3);
  probe.key = 99;
  EXPECT_FALSE(list.Search(&probe, index));
  EXPECT_EQ(index, 4);
  EXPECT_EQ(list.IndexOf(&probe), -1);

  TSortedObjectList abstract(quv::AcceptDuplicates);
  abstract.SetOwnsObjects(false);
  abstract.Add(&probe);  // nothing to compare with yet
  EXPECT_THROW(abstract.Add(&probe), quv::EAbstractError);
}

std::vector<TObject*> Items(const TObjectList& list) {
  std::vector<TObject*> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
  return out;
}

TEST(SortedObjectList, AddAllPlacesItemsAsAddingThemOneByOne) {
  std::vector<Tracked> listed;
  std::vector<Tracked> added;
  for (int k : {5, 1, 7}) listed.emplace_back(k, 0);
  for (int k : {7, 3, 5, 3, 9, 3, 1}) added.emplace_back(k, static_cast<int>(added.size()) + 1);
  for (quv::TDuplicates policy : {quv::AcceptDuplicates, quv::IgnoreDuplicates, quv::RejectDuplicates}) {
    SCOPED_TRACE(static_cast<int>(policy));
    KeyList one(policy);
    KeyList all(policy);
    one.SetOwnsObjects(false);
    all.SetOwnsObjects(false);
    for (Tracked& t : listed) one.Add(&t);
    all.AddAll(Items(one));
    std::vector<TObject*> fresh;
    for (Tracked& t : added) fresh.push_back(&t);
    if (policy == quv::RejectDuplicates) {
      EXPECT_EQ(ListMessage([&] { all.AddAll(fresh); }), "Duplicate Object index");
      EXPECT_EQ(Items(all), Items(one)) << "nothing is added";
      continue;
    }
    std::vector<TObject*> leftOut;
    for (TObject* t : fresh) {
      const std::int32_t before = one.Count();
      one.Add(t);
      if (one.Count() == before) leftOut.push_back(t);
    }
    EXPECT_EQ(all.AddAll(fresh), leftOut);
    EXPECT_EQ(Items(all), Items(one));
  }
}

TEST(SortedObjectList, AddAllSortsManyReversedItemsAndFindsTheirDuplicates) {
  constexpr int kMany = 100000;
  KeyList list(quv::RejectDuplicates);
  std::vector<TObject*> items;
  for (int k = kMany; k > 0; --k) items.push_back(new Tracked(2 * k));
  list.AddAll(items);
  ASSERT_EQ(list.Count(), kMany);
  for (int i = 0; i < kMany; ++i) ASSERT_EQ(static_cast<Tracked*>(list.Get(i))->key, 2 * (i + 1));
  std::vector<TObject*> more;
  for (int k = kMany; k > 0; --k) more.push_back(new Tracked(2 * k + 1));
  more.push_back(new Tracked(kMany));  // a key already listed
  EXPECT_EQ(ListMessage([&] { list.AddAll(more); }), "Duplicate Object index");
  EXPECT_EQ(list.Count(), kMany);
  delete more.back();
  more.pop_back();
  list.AddAll(more);
  ASSERT_EQ(list.Count(), 2 * kMany);
  for (int i = 0; i < 2 * kMany; ++i) ASSERT_EQ(static_cast<Tracked*>(list.Get(i))->key, i + 2);
}

// Entries for the sort modes.
TZipHeaderInfo* Entry(const std::string& dir, const std::string& name) {
  auto* e = new TZipHeaderInfo;
  e->SetDirectory(dir);
  e->SetFileName(name);
  return e;
}

std::uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return (static_cast<std::uint32_t>((y - 1980) << 9 | mo << 5 | d) << 16) | static_cast<std::uint32_t>(h << 11 | mi << 5 | s / 2);
}

std::vector<std::string> Names(const TSortedZip& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Items(i)->StoredPath());
  return out;
}

// A non-owning view over owned entries in the given mode.
std::vector<std::string> SortedNames(const std::vector<TZipHeaderInfo*>& entries, quv::TZipSortMode mode) {
  TSortedZip view(quv::AcceptDuplicates);
  view.SetOwnsObjects(false);
  view.SetSortMode(mode);
  for (TZipHeaderInfo* e : entries) view.Add(e);
  return Names(view);
}

TEST(SortedZip, NameModesCompareWithoutCase) {
  TSortedZip owner(quv::AcceptDuplicates);
  std::vector<TZipHeaderInfo*> entries = {Entry("Docs", "b.txt"), Entry("docs", "A.txt"), Entry("", "Zeta"),
                                          Entry("a", "z"), Entry("", "_x")};
  for (auto* e : entries) owner.Add(e);
  EXPECT_EQ(SortedNames(entries, quv::ByName),
            (std::vector<std::string>{"_x", "a\\z", "docs\\A.txt", "Docs\\b.txt", "Zeta"}))
      << "letters fold to lower case, so '_' sorts before them";
  EXPECT_EQ(SortedNames(entries, quv::ByFileName)[1], "docs\\A.txt");
  const auto byDir = SortedNames(entries, quv::ByDirectoryName);
  EXPECT_EQ(byDir[0].find('\\'), std::string::npos);  // the empty directories first
  EXPECT_EQ(byDir[2], "a\\z");
  EXPECT_LT(quv::CompareText("abc", "ABCD"), 0);
  EXPECT_EQ(quv::CompareText("\xC4X", "\xC4x"), 0);
  EXPECT_NE(quv::CompareText("\xC4", "\xE4"), 0) << "only A-Z fold";
}

TEST(SortedZip, DatesAndSizesSortLargestFirstAndNeverTie) {
  TSortedZip owner(quv::AcceptDuplicates);
  auto* older = Entry("", "older");
  older->LastModFileDateTime = Dos(2001, 5, 1, 10, 0, 0);
  auto* newer = Entry("", "newer");
  newer->LastModFileDateTime = Dos(2020, 1, 1, 0, 0, 2);
  auto* invalid = Entry("", "30feb");
  invalid->LastModFileDateTime = Dos(2020, 2, 30, 0, 0, 0);
  std::vector<TZipHeaderInfo*> entries = {older, invalid, newer};
  for (auto* e : entries) owner.Add(e);
  EXPECT_EQ(SortedNames(entries, quv::ByDate), (std::vector<std::string>{"newer", "older", "30feb"}));

  older->CompressedSize = 10;
  newer->CompressedSize = 300;
  invalid->CompressedSize = 10;
  EXPECT_EQ(SortedNames(entries, quv::ByCompressedSize), (std::vector<std::string>{"newer", "older", "30feb"}))
      << "a tie goes after the items it ties with";
  older->UncompressedSize = 7;
  newer->UncompressedSize = 5;
  invalid->UncompressedSize = 6;
  EXPECT_EQ(SortedNames(entries, quv::ByUnCompressedSize), (std::vector<std::string>{"older", "30feb", "newer"}));
  older->CompressedSize = 0x100000001LL;
  newer->CompressedSize = 0x80000000LL;
  invalid->CompressedSize = 0x7FFFFFFFLL;
  EXPECT_EQ(SortedNames(entries, quv::ByCompressedSize), (std::vector<std::string>{"older", "newer", "30feb"}))
      << "sizes past 2 and 4 GiB compare in 64 bits";

  TSortedZip view(quv::AcceptDuplicates);
  view.SetOwnsObjects(false);
  view.SetSortMode(quv::ByDate);
  view.Add(older);
  EXPECT_EQ(view.IndexOf(older), -1) << "nothing compares equal by date";
}

TEST(SortedZip, RateAndPhysicalOrder) {
  TSortedZip owner(quv::RejectDuplicates);
  auto* stored = Entry("", "stored");
  stored->UncompressedSize = stored->CompressedSize = 100;
  stored->RelativeOffsetOfLocalHeader = 5000;
  auto* deflated = Entry("", "deflated");
  deflated->UncompressedSize = 100;
  deflated->CompressedSize = 40;
  deflated->RelativeOffsetOfLocalHeader = 10;
  deflated->DiskNumberStart = 1;
  auto* empty = Entry("", "empty");
  empty->RelativeOffsetOfLocalHeader = 0x80000000u;
  auto* far = Entry("", "far");
  far->RelativeOffsetOfLocalHeader = 0x100000000LL;
  auto* start = Entry("", "start");
  std::vector<TZipHeaderInfo*> entries = {empty, far, deflated, stored, start};
  for (auto* e : entries) owner.Add(e);
  EXPECT_EQ(Names(owner), (std::vector<std::string>{"start", "stored", "empty", "far", "deflated"}))
      << "offsets compare in 64 bits: 2 GiB after 5000, 4 GiB no twin of 0";
  EXPECT_EQ(SortedNames({stored, deflated, empty}, quv::ByRate),
            (std::vector<std::string>{"stored", "deflated", "empty"}));

  auto* clash = Entry("", "clash");
  clash->RelativeOffsetOfLocalHeader = 5000;
  EXPECT_EQ(ListMessage([&] { owner.Add(clash); }), "Duplicate Object index");
  delete clash;

  TSortedZip odd(quv::AcceptDuplicates);
  odd.SetSortMode(static_cast<quv::TZipSortMode>(42));
  EXPECT_EQ(odd.Compare(stored, stored), -1);
}

}  // namespace

namespace {

TEST(StringList, KeepsOrderCopiesAndReportsBadIndexes) {
  quv::TStringList list;
  EXPECT_EQ(list.Add("File1=C:\\a.exe"), 0);
  list.Add("file2=x");
  list.Insert(0, "first");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(0), "first");
  EXPECT_EQ(list.IndexOf("FILE2=X"), 2);
  EXPECT_EQ(list.Text(), "first\r\nFile1=C:\\a.exe\r\nfile2=x\r\n");
  quv::TStringList copy;
  copy.Add("old");
  copy.Assign(&list);
  EXPECT_EQ(copy.Lines(), list.Lines());
  EXPECT_EQ(ListMessage([&] { copy.Strings(3); }), "List index out of bounds (3)");
  EXPECT_EQ(ListMessage([&] { copy.Delete(-1); }), "List index out of bounds (-1)");
  copy.Delete(0);
  EXPECT_EQ(copy.Strings(0), "File1=C:\\a.exe");
  copy.Clear();
  EXPECT_EQ(copy.Count(), 0);

  TZipHeaderInfo entry;
  try {
    list.Assign(&entry);
    FAIL() << "an entry was assigned to a string list";
  } catch (const quv::EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TZipHeaderInfo to a TStringList");
  }
  EXPECT_THROW(list.Assign(nullptr), quv::EConvertError);
  EXPECT_EQ(list.Count(), 3);
}

}  // namespace
