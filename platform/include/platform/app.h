// Application kit: the application object and the message, a container of
// named, typed values (the filters' declared parameters).
#pragma once

#include <platform/interface.h>
#include <platform/support.h>

#include <string>
#include <vector>

class BMessage {
 public:
  BMessage() = default;
  explicit BMessage(uint32 what) : what(what) {}

  uint32 what = 0;

  // Each Add appends a value under `name`; a name holds values of one type
  // only (B_BAD_TYPE otherwise). Names are kept in the order first added.
  status_t AddRect(const char* name, BRect value);
  status_t AddBool(const char* name, bool value);
  status_t AddFloat(const char* name, float value);
  status_t AddInt32(const char* name, int32 value);
  status_t AddString(const char* name, const char* value);

  // Each Find copies value number `index` of `name` into *value:
  // B_NAME_NOT_FOUND when there is no such name, B_BAD_TYPE when it holds
  // another type, B_BAD_INDEX past its last value.
  status_t FindRect(const char* name, BRect* value) const { return FindRect(name, 0, value); }
  status_t FindRect(const char* name, int32 index, BRect* value) const;
  status_t FindBool(const char* name, bool* value) const { return FindBool(name, 0, value); }
  status_t FindBool(const char* name, int32 index, bool* value) const;
  status_t FindFloat(const char* name, float* value) const { return FindFloat(name, 0, value); }
  status_t FindFloat(const char* name, int32 index, float* value) const;
  status_t FindInt32(const char* name, int32* value) const { return FindInt32(name, 0, value); }
  status_t FindInt32(const char* name, int32 index, int32* value) const;
  status_t FindString(const char* name, const char** value) const { return FindString(name, 0, value); }
  status_t FindString(const char* name, int32 index, const char** value) const;

  // Listing: the number of names holding values of `type` (B_ANY_TYPE: all),
  // and the name, type and value count of the index-th of them.
  int32 CountNames(type_code type) const;
  status_t GetInfo(type_code type, int32 index, const char** name, type_code* typeFound,
                   int32* countFound = nullptr) const;
  bool IsEmpty() const { return fields.empty(); }
  void MakeEmpty() { fields.clear(); }

 private:
  struct Value {
    BRect rect{};
    bool boolean = false;
    float real = 0;
    int32 integer = 0;
    std::string text;
  };
  struct Field {
    std::string name;
    type_code type;
    std::vector<Value> values;
  };
  status_t add(const char* name, type_code type, Value value);
  const Value* find(const char* name, type_code type, int32 index, status_t* status) const;
  std::vector<Field> fields;
};

// The application object. This layer runs no message loop: the object only
// records its signature, one per process, as the standalone launch expects.
class BApplication {
 public:
  explicit BApplication(const char* signature);
  virtual ~BApplication();
  BApplication(const BApplication&) = delete;
  BApplication& operator=(const BApplication&) = delete;
  const char* Signature() const { return signature.c_str(); }

 private:
  std::string signature;
};

// The application object of this process, or null.
extern BApplication* be_app;
