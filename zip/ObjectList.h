// Growable lists of object references that may own (free) their items, and
// the sorted variant that keeps items ordered by an overridable comparison.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/Persistent.h"

namespace quv {

class TObjectList : public TPersistent {
 public:
  static constexpr std::int32_t kMaxListSize = 0x1FFFFFFF;  // counts and capacities stay below

  TObjectList();
  ~TObjectList() override;
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;
  std::string ClassName() const override { return "TObjectList"; }

  // Raises EListError "List index out of bounds (%d)".
  [[noreturn]] virtual void Error(std::int32_t index) const;
  virtual void Grow();
  TObject* Get(std::int32_t index) const;
  // Overwrites the slot; the old item is neither freed nor returned.
  virtual void Put(std::int32_t index, TObject* item);
  // Frees the item when the list owns its items.
  virtual void FreeObject(TObject* item);
  // The list takes the item (and frees it later when it owns its items).
  virtual std::int32_t Add(TObject* item);
  // Empties the list without freeing items.
  virtual void Clear();
  virtual std::int32_t IndexOf(const TObject* item) const;
  virtual void Insert(std::int32_t index, TObject* item);
  virtual TObject* First() const;
  virtual TObject* Last() const;
  // The neighbour of item (First/Last for null); null past either end.
  // An item not in the list raises EListError "tObject %s not in item list".
  virtual TObject* Next(const TObject* item, bool forward) const;

  // FreeObject for every item, then Clear.
  void FreeAll();
  void SetCapacity(std::int32_t n);
  void SetCount(std::int32_t n);

  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return capacity_; }
  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool owns) { ownsObjects_ = owns; }
  TObject* operator[](std::int32_t index) const { return Get(index); }

 protected:
  bool ownsObjects_ = true;
  std::unique_ptr<TObject*[]> items_;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
};

enum TDuplicates : std::uint8_t { IgnoreDuplicates = 0, AcceptDuplicates = 1, RejectDuplicates = 2 };

class TSortedObjectList : public TObjectList {
 public:
  explicit TSortedObjectList(TDuplicates duplicates);
  std::string ClassName() const override { return "TSortedObjectList"; }

  // Always raises EListError "Cannot <Put> an Object in a sorted list!".
  void Put(std::int32_t index, TObject* item) override;
  // Inserts at the sorted position; always answers 0.
  std::int32_t Add(TObject* item) override;
  // Position of an item whose key compares equal (not necessarily item); -1 if none.
  std::int32_t IndexOf(const TObject* item) const override;
  // index is ignored: the position comes from Search. With IgnoreDuplicates
  // an equal item leaves the list unchanged and the item with the caller;
  // with RejectDuplicates it raises EListError "Duplicate Object index".
  void Insert(std::int32_t index, TObject* item) override;

  // Adds the items as Add would one after another, in O(n log n) for the n
  // items of the list afterwards (each Add moves the items behind its
  // place). Answers the items IgnoreDuplicates left out, in the order
  // given; they stay with the caller. With RejectDuplicates an item whose key equals a listed or
  // another new one raises EListError "Duplicate Object index" and nothing
  // is added.
  std::vector<TObject*> AddAll(const std::vector<TObject*>& items);

  virtual const TObject* KeyOf(const TObject* item) const;
  // Abstract here: raises EAbstractError.
  virtual int Compare(const TObject* a, const TObject* b) const;
  // Binary search for key; answers whether found, index the position.
  virtual bool Search(const TObject* key, std::int32_t& index) const;

  TDuplicates Duplicates() const { return duplicates_; }

 private:
  // Places one run of equal keys of AddAll (positions in all) as the
  // duplicate policy says.
  void TakeEqualKeys(const std::vector<TObject*>& all, const std::vector<std::int32_t>& equals, std::int32_t listed,
                     std::vector<TObject*>& sorted, std::vector<std::int32_t>& refused) const;
  // Whether each item belongs after the one before it (the first after the
  // list's last), with no two keys equal: the items can then be appended.
  bool AscendAfterList(const std::vector<TObject*>& items) const;

  TDuplicates duplicates_;
};

}  // namespace quv
