#pragma once
// The configuration file as read: File -> Section -> SubSection ([name] block)
// -> Key -> SubKey (one occurrence). Nothing is merged: repeated sections and
// keys are all kept with their line numbers, and the reader of a block decides
// what a repetition means.
#include <iosfwd>
#include <map>
#include <string>

namespace IniFile {

class File;
class Section;
class SubSection;
class Key;
class SubKey;

namespace Private {

// Links of an element in its parent's list (document order).
template <class T>
class Linked {
public:
  T* GetNext() const { return mNext; }
  T* GetPrev() const { return mPrev; }

private:
  template <class U>
  friend class OwnedList;
  T* mNext = nullptr;
  T* mPrev = nullptr;
};

// A list that owns its elements.
template <class T>
class OwnedList {
public:
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  ~OwnedList() { clear(); }

  T* append(T* x) {
    x->mPrev = mLast;
    x->mNext = nullptr;
    if (mLast)
      mLast->mNext = x;
    else
      mFirst = x;
    mLast = x;
    ++mCount;
    return x;
  }
  void clear() {
    while (mFirst) {
      T* next = mFirst->mNext;
      delete mFirst;
      mFirst = next;
    }
    mLast = nullptr;
    mCount = 0;
  }
  T* first() const { return mFirst; }
  T* last() const { return mLast; }
  int count() const { return mCount; }

private:
  T* mFirst = nullptr;
  T* mLast = nullptr;
  int mCount = 0;
};

}  // namespace Private

template <class T>
class GenericIterator {
public:
  explicit GenericIterator(T* p = nullptr) : mPtr(p) {}
  GenericIterator& operator++() {
    if (mPtr) mPtr = mPtr->GetNext();
    return *this;
  }
  GenericIterator operator++(int) {
    GenericIterator old(*this);
    ++*this;
    return old;
  }
  T& operator*() const { return *mPtr; }
  T* operator->() const { return mPtr; }
  bool operator!=(const GenericIterator& o) const { return mPtr != o.mPtr; }
  bool operator==(const GenericIterator& o) const { return mPtr == o.mPtr; }

private:
  T* mPtr;
};

class SubKey : public Private::Linked<SubKey> {
public:
  SubKey(const std::string& value, int line) : mValue(value), mLineNo(line) {}

  std::string& GetStr() { return mValue; }
  int GetLineNo() const { return mLineNo; }

  bool GetBool(bool def);
  void SetBool(bool value);
  // Leading number, trailing text ignored; no number or out of range: def.
  int GetInt(int def);
  float GetFloat(float def);
  void SetInt(int value);
  void SetFloat(float value);

  void Dump(std::ostream& out) const;

private:
  std::string mValue;
  int mLineNo;
};

class Key : public Private::Linked<Key> {
public:
  typedef GenericIterator<SubKey> iterator;

  explicit Key(const std::string& name) : mName(name) {}

  const std::string& GetName() const { return mName; }
  SubKey* NewSubKey(const std::string& value, int line);
  int GetCount() const { return mSubKeys.count(); }
  void CheckEmpty();
  // Never null: an absent key gets an empty occurrence (line -1) first.
  SubKey* GetFirstSubKey();
  SubKey* GetLastSubKey();
  std::string& GetStr() { return GetFirstSubKey()->GetStr(); }

  iterator begin() const { return iterator(mSubKeys.first()); }
  iterator end() const { return iterator(); }

  void Dump(std::ostream& out) const;

private:
  std::string mName;
  Private::OwnedList<SubKey> mSubKeys;
};

class SubSection : public Private::Linked<SubSection> {
public:
  typedef GenericIterator<Key> iterator;

  explicit SubSection(int line) : mLineNo(line) {}

  // An absent name leaves an empty key behind.
  Key& operator[](const std::string& name);
  SubKey* NewSubKey(const std::string& name, const std::string& value, int line);
  int GetLineNo() const { return mLineNo; }
  int GetKeyCount() const { return mKeys.count(); }

  iterator begin() const { return iterator(mKeys.first()); }
  iterator end() const { return iterator(); }

  void Dump(std::ostream& out) const;

private:
  int mLineNo;
  Private::OwnedList<Key> mKeys;
  std::map<std::string, Key*> mKeyMap;
};

class Section : public Private::Linked<Section> {
public:
  typedef GenericIterator<SubSection> iterator;

  explicit Section(const std::string& name) : mName(name) {}

  const std::string& GetName() const { return mName; }
  SubSection* NewSubSection(int line);
  void CheckEmpty();
  int GetSubSectionCount() const { return mSubSections.count(); }

  iterator begin() const { return iterator(mSubSections.first()); }
  iterator end() const { return iterator(); }

  void Dump(std::ostream& out) const;

private:
  std::string mName;
  Private::OwnedList<SubSection> mSubSections;
};

class File {
public:
  typedef GenericIterator<Section> iterator;

  File() = default;
  explicit File(const std::string& name) { Open(name); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // False when the file cannot be opened; the model is then empty and every
  // section looked up afterwards is simply empty.
  bool Open(const std::string& name);
  void Close();
  void Sync() {}
  bool IsOpen() const { return mOpen; }
  const std::string& GetFileName() const { return mFileName; }
  int GetSectionCount() const { return mSections.count(); }

  // An absent name creates an empty section.
  Section& operator[](const std::string& name);
  SubSection* NewSubSection(const std::string& name, int line);

  iterator begin() const { return iterator(mSections.first()); }
  iterator end() const { return iterator(); }

  void Dump(std::ostream& out) const;

  friend std::istream& operator>>(std::istream& in, File& file);

private:
  void clear();
  void parse(std::istream& in);

  std::string mFileName;
  bool mOpen = false;
  Private::OwnedList<Section> mSections;
  std::map<std::string, Section*> mSectionMap;
};

std::istream& operator>>(std::istream& in, File& file);

}  // namespace IniFile
