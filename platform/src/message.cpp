#include <platform/app.h>

#include <cstring>

status_t BMessage::add(const char* name, type_code type, Value value) {
  if (name == nullptr || *name == '\0') return B_BAD_VALUE;
  for (Field& f : fields) {
    if (f.name == name) {
      if (f.type != type) return B_BAD_TYPE;
      f.values.push_back(std::move(value));
      return B_OK;
    }
  }
  fields.push_back(Field{name, type, {std::move(value)}});
  return B_OK;
}

const BMessage::Value* BMessage::find(const char* name, type_code type, int32 index, status_t* status) const {
  if (name == nullptr) {
    *status = B_BAD_VALUE;
    return nullptr;
  }
  for (const Field& f : fields) {
    if (f.name != name) continue;
    if (f.type != type) {
      *status = B_BAD_TYPE;
      return nullptr;
    }
    if (index < 0 || size_t(index) >= f.values.size()) {
      *status = B_BAD_INDEX;
      return nullptr;
    }
    *status = B_OK;
    return &f.values[size_t(index)];
  }
  *status = B_NAME_NOT_FOUND;
  return nullptr;
}

status_t BMessage::AddRect(const char* name, BRect value) {
  Value v;
  v.rect = value;
  return add(name, B_RECT_TYPE, std::move(v));
}
status_t BMessage::AddBool(const char* name, bool value) {
  Value v;
  v.boolean = value;
  return add(name, B_BOOL_TYPE, std::move(v));
}
status_t BMessage::AddFloat(const char* name, float value) {
  Value v;
  v.real = value;
  return add(name, B_FLOAT_TYPE, std::move(v));
}
status_t BMessage::AddInt32(const char* name, int32 value) {
  Value v;
  v.integer = value;
  return add(name, B_INT32_TYPE, std::move(v));
}
status_t BMessage::AddString(const char* name, const char* value) {
  if (value == nullptr) return B_BAD_VALUE;
  Value v;
  v.text = value;
  return add(name, B_STRING_TYPE, std::move(v));
}

status_t BMessage::FindRect(const char* name, int32 index, BRect* value) const {
  status_t s;
  const Value* v = find(name, B_RECT_TYPE, index, &s);
  if (v && value) *value = v->rect;
  return s;
}
status_t BMessage::FindBool(const char* name, int32 index, bool* value) const {
  status_t s;
  const Value* v = find(name, B_BOOL_TYPE, index, &s);
  if (v && value) *value = v->boolean;
  return s;
}
status_t BMessage::FindFloat(const char* name, int32 index, float* value) const {
  status_t s;
  const Value* v = find(name, B_FLOAT_TYPE, index, &s);
  if (v && value) *value = v->real;
  return s;
}
status_t BMessage::FindInt32(const char* name, int32 index, int32* value) const {
  status_t s;
  const Value* v = find(name, B_INT32_TYPE, index, &s);
  if (v && value) *value = v->integer;
  return s;
}
status_t BMessage::FindString(const char* name, int32 index, const char** value) const {
  status_t s;
  const Value* v = find(name, B_STRING_TYPE, index, &s);
  if (v && value) *value = v->text.c_str();
  return s;
}

int32 BMessage::CountNames(type_code type) const {
  int32 n = 0;
  for (const Field& f : fields)
    if (type == B_ANY_TYPE || f.type == type) ++n;
  return n;
}

status_t BMessage::GetInfo(type_code type, int32 index, const char** name, type_code* typeFound,
                           int32* countFound) const {
  if (index < 0) return B_BAD_INDEX;
  int32 n = 0;
  for (const Field& f : fields) {
    if (type != B_ANY_TYPE && f.type != type) continue;
    if (n++ != index) continue;
    if (name) *name = f.name.c_str();
    if (typeFound) *typeFound = f.type;
    if (countFound) *countFound = int32(f.values.size());
    return B_OK;
  }
  return CountNames(type) == 0 ? B_BAD_TYPE : B_BAD_INDEX;
}

BApplication* be_app = nullptr;

BApplication::BApplication(const char* sig) : signature(sig ? sig : "") {
  if (be_app == nullptr) be_app = this;
}

BApplication::~BApplication() {
  if (be_app == this) be_app = nullptr;
}
