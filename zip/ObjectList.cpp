#include "zip/ObjectList.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_set>
#include <utility>

#include "zip/Exception.h"

namespace quv {

// ---- TObjectList -------------------------------------------------------------

TObjectList::TObjectList() = default;

TObjectList::~TObjectList() {
  FreeAll();
  Clear();
}

void TObjectList::Error(std::int32_t index) const {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void TObjectList::Grow() {
  // Doubling past the first small steps: a list of n items is copied O(n)
  // times in all, not O(n^2 / 16).
  std::int64_t wanted = capacity_ + 4;
  if (capacity_ > 8) {
    wanted = 2 * static_cast<std::int64_t>(capacity_);
  } else if (capacity_ > 4) {
    wanted = capacity_ + 8;
  }
  const std::int32_t old = capacity_;
  SetCapacity(static_cast<std::int32_t>(std::min<std::int64_t>(wanted, kMaxListSize - 1)));
  if (capacity_ == old) Error(old + 1);
}

TObject* TObjectList::Get(std::int32_t index) const {
  if (index < 0 || index >= count_) Error(index);
  return items_[static_cast<std::size_t>(index)];
}

void TObjectList::Put(std::int32_t index, TObject* item) {
  if (index < 0 || index >= count_) Error(index);
  items_[static_cast<std::size_t>(index)] = item;
}

void TObjectList::FreeObject(TObject* item) {
  if (ownsObjects_) delete item;
}

std::int32_t TObjectList::Add(TObject* item) {
  if (count_ == capacity_) Grow();
  items_[static_cast<std::size_t>(count_)] = item;
  return count_++;
}

void TObjectList::Clear() {
  SetCount(0);
  SetCapacity(0);
}

std::int32_t TObjectList::IndexOf(const TObject* item) const {
  for (std::int32_t i = 0; i < count_; ++i) {
    if (items_[static_cast<std::size_t>(i)] == item) return i;
  }
  return -1;
}

void TObjectList::Insert(std::int32_t index, TObject* item) {
  if (index < 0 || index > count_) Error(index);
  if (count_ == capacity_) Grow();
  TObject** slots = items_.get();
  if (index < count_)
    std::memmove(slots + index + 1, slots + index, static_cast<std::size_t>(count_ - index) * sizeof(TObject*));
  slots[index] = item;
  ++count_;
}

TObject* TObjectList::First() const { return Get(0); }

TObject* TObjectList::Last() const { return Get(count_ - 1); }

TObject* TObjectList::Next(const TObject* item, bool forward) const {
  if (item == nullptr) return forward ? First() : Last();
  const std::int32_t index = IndexOf(item);
  if (index < 0) throw EListError("tObject " + item->ClassName() + " not in item list");
  const std::int32_t next = forward ? index + 1 : index - 1;
  if (next < 0 || next >= count_) return nullptr;
  return items_[static_cast<std::size_t>(next)];
}

void TObjectList::FreeAll() {
  if (ownsObjects_) {
    // A reference may sit in more than one slot; free each object once.
    std::unordered_set<TObject*> freed;
    for (std::int32_t i = 0; i < count_; ++i) {
      TObject* item = items_[static_cast<std::size_t>(i)];
      if (item != nullptr && freed.insert(item).second) FreeObject(item);
    }
  }
  Clear();
}

void TObjectList::SetCapacity(std::int32_t n) {
  if (n == capacity_) return;
  if (n < count_ || n >= kMaxListSize) Error(n);
  std::unique_ptr<TObject*[]> block;
  if (n > 0) {
    block.reset(new TObject*[static_cast<std::size_t>(n)]);
    if (count_ > 0) std::memcpy(block.get(), items_.get(), static_cast<std::size_t>(count_) * sizeof(TObject*));
  }
  items_ = std::move(block);
  capacity_ = n;
}

void TObjectList::SetCount(std::int32_t n) {
  if (n < 0 || n >= kMaxListSize) Error(n);
  if (n > capacity_) SetCapacity(n);
  for (std::int32_t i = count_; i < n; ++i) items_[static_cast<std::size_t>(i)] = nullptr;
  count_ = n;
}

// ---- TSortedObjectList -----------------------------------------------------------

TSortedObjectList::TSortedObjectList(TDuplicates duplicates) : duplicates_(duplicates) {}

void TSortedObjectList::Put(std::int32_t /*index*/, TObject* /*item*/) {
  throw EListError("Cannot <Put> an Object in a sorted list!");
}

std::int32_t TSortedObjectList::Add(TObject* item) {
  Insert(0, item);
  return 0;
}

std::int32_t TSortedObjectList::IndexOf(const TObject* item) const {
  std::int32_t index = 0;
  return Search(KeyOf(item), index) ? index : -1;
}

void TSortedObjectList::Insert(std::int32_t /*index*/, TObject* item) {
  std::int32_t position = 0;
  if (Search(KeyOf(item), position)) {
    if (duplicates_ == IgnoreDuplicates) return;
    if (duplicates_ == RejectDuplicates) throw EListError("Duplicate Object index");
  }
  TObjectList::Insert(position, item);
}

bool TSortedObjectList::AscendAfterList(const std::vector<TObject*>& items) const {
  const TObject* previous = count_ > 0 ? items_[static_cast<std::size_t>(count_ - 1)] : nullptr;
  for (const TObject* item : items) {
    // Negative: the second belongs after the first; 0 would be a duplicate.
    if (previous != nullptr && Compare(KeyOf(previous), KeyOf(item)) >= 0) return false;
    previous = item;
  }
  return true;
}

std::vector<TObject*> TSortedObjectList::AddAll(const std::vector<TObject*>& items) {
  const std::int64_t total = static_cast<std::int64_t>(count_) + static_cast<std::int64_t>(items.size());
  if (total >= kMaxListSize) Error(static_cast<std::int32_t>(std::min<std::int64_t>(total, kMaxListSize)));
  if (AscendAfterList(items)) {
    // The usual directory is in order already: appended without the sort's
    // working copies, which would cost about 40 bytes an entry at the peak.
    if (total > capacity_) SetCapacity(static_cast<std::int32_t>(total));
    std::copy(items.begin(), items.end(), items_.get() + count_);
    count_ = static_cast<std::int32_t>(total);
    return {};
  }
  const std::int32_t listed = count_;
  std::vector<TObject*> all(items_.get(), items_.get() + listed);
  all.insert(all.end(), items.begin(), items.end());
  // Positions in `all`, sorted stably: equal keys keep the listed items
  // first and the new ones in the order given, as Add one by one meets them.
  std::vector<std::int32_t> order(all.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::int32_t x, std::int32_t y) {
    return Compare(KeyOf(all[static_cast<std::size_t>(y)]), KeyOf(all[static_cast<std::size_t>(x)])) > 0;
  });

  std::vector<TObject*> sorted;
  sorted.reserve(all.size());
  std::vector<std::int32_t> refused;
  std::vector<std::int32_t> equals;
  for (std::size_t at = 0; at < order.size();) {
    // A run of keys that compare equal (ties that never compare 0, as dates
    // do, stay in the order the sort gave).
    equals.assign(1, order[at]);
    const TObject* key = KeyOf(all[static_cast<std::size_t>(order[at])]);
    for (++at; at < order.size() && Compare(key, KeyOf(all[static_cast<std::size_t>(order[at])])) == 0; ++at)
      equals.push_back(order[at]);
    TakeEqualKeys(all, equals, listed, sorted, refused);
  }

  if (std::cmp_greater(sorted.size(), capacity_)) SetCapacity(static_cast<std::int32_t>(sorted.size()));
  std::copy(sorted.begin(), sorted.end(), items_.get());
  count_ = static_cast<std::int32_t>(sorted.size());
  std::sort(refused.begin(), refused.end());
  std::vector<TObject*> left;
  for (const std::int32_t i : refused) left.push_back(all[static_cast<std::size_t>(i)]);
  return left;
}

void TSortedObjectList::TakeEqualKeys(const std::vector<TObject*>& all, const std::vector<std::int32_t>& equals,
                                      std::int32_t listed, std::vector<TObject*>& sorted,
                                      std::vector<std::int32_t>& refused) const {
  // equals: positions in all, the listed ones (below `listed`) first.
  const auto firstNew = std::find_if(equals.begin(), equals.end(), [&](std::int32_t i) { return i >= listed; });
  const auto item = [&](std::int32_t i) { return all[static_cast<std::size_t>(i)]; };
  if (equals.size() == 1 || firstNew == equals.end()) {
    for (const std::int32_t i : equals) sorted.push_back(item(i));
    return;
  }
  switch (duplicates_) {
    case RejectDuplicates:
      throw EListError("Duplicate Object index");
    case IgnoreDuplicates: {
      // The first of them stays; later equals are not taken.
      const bool anyListed = firstNew != equals.begin();
      for (auto it = equals.begin(); it != equals.end(); ++it) {
        const bool keep = it < firstNew || (!anyListed && it == firstNew);
        if (keep) {
          sorted.push_back(item(*it));
        } else {
          refused.push_back(*it);
        }
      }
      break;
    }
    default:
      // Each new item goes in front of the equal ones before it.
      for (auto it = equals.end(); it != firstNew;) sorted.push_back(item(*--it));
      for (auto it = equals.begin(); it != firstNew; ++it) sorted.push_back(item(*it));
      break;
  }
}

const TObject* TSortedObjectList::KeyOf(const TObject* item) const { return item; }

int TSortedObjectList::Compare(const TObject* /*a*/, const TObject* /*b*/) const {
  throw EAbstractError("Abstract Error");
}

bool TSortedObjectList::Search(const TObject* key, std::int32_t& index) const {
  std::int32_t lo = 0;
  std::int32_t hi = count_ - 1;
  bool found = false;
  while (lo <= hi) {
    const auto mid = static_cast<std::int32_t>((static_cast<std::uint32_t>(lo) + static_cast<std::uint32_t>(hi)) >> 1);
    const int c = Compare(KeyOf(items_[static_cast<std::size_t>(mid)]), key);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != AcceptDuplicates) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

}  // namespace quv
