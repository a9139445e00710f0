#include "page/automation_win32.h"

#include <windows.h>

#include <oleauto.h>

#include <type_traits>

#include "runtime/com_win32.h"

namespace zandrel::win32 {
namespace {

class DispatchObject final : public AutomationObject {
 public:
  explicit DispatchObject(ComPtr<IDispatch> object) : object_(std::move(object)) {}

  std::string getText(std::string_view name) override {
    Variant value;
    if (!read(name, value)) return {};
    return textOf(*value);
  }

  double getNumber(std::string_view name) override {
    Variant value;
    if (!read(name, value)) return 0;
    return numberOf(*value);
  }

  ObjectRef getObject(std::string_view name) override {
    Variant value;
    if (!read(name, value)) return nullptr;
    return objectOf(*value);
  }

  ObjectRef call(std::string_view method, const Argument& argument) override {
    DISPID id;
    if (!dispatchId(method, id)) return nullptr;
    Variant arg;
    if (const auto* text = std::get_if<std::string>(&argument)) {
      const std::wstring wide = widen(*text);
      arg.get()->vt = VT_BSTR;
      arg.get()->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    } else {
      arg.get()->vt = VT_R8;
      arg.get()->dblVal = std::get<double>(argument);
    }
    Variant result;
    if (!invoke(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arg.get(), result)) {
      // Some servers (script engines) take the combined flags as a property
      // read; ask for the method alone.
      result.clear();
      if (!invoke(id, DISPATCH_METHOD, arg.get(), result)) return nullptr;
    }
    return objectOf(*result);
  }

 private:
  bool dispatchId(std::string_view name, DISPID& id) {
    if (!object_) return false;
    std::wstring wide = widen(name);
    LPOLESTR names[1] = {wide.data()};
    return SUCCEEDED(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
  }

  bool invoke(DISPID id, WORD flags, VARIANT* argument, Variant& result) {
    DISPPARAMS params{argument, nullptr, argument ? 1u : 0u, 0};
    EXCEPINFO exception{};
    UINT argumentError = 0;
    const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                       result.get(), &exception, &argumentError);
    if (hr == DISP_E_EXCEPTION) {
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
    }
    return SUCCEEDED(hr);
  }

  // A property read as an automation client writes `object.name`: the
  // member may be served as a property or as a method without arguments.
  bool read(std::string_view name, Variant& result) {
    DISPID id;
    if (!dispatchId(name, id)) return false;
    if (invoke(id, DISPATCH_PROPERTYGET | DISPATCH_METHOD, nullptr, result)) return true;
    result.clear();
    return invoke(id, DISPATCH_PROPERTYGET, nullptr, result);
  }

  // The conversion functions take their source as non-const in mingw's
  // headers; they only read it.
  static VARIANT* source(const VARIANT& value) { return const_cast<VARIANT*>(&value); }

  // A by-reference result is read through its reference.
  static const VARIANT& direct(const VARIANT& value, Variant& holder) {
    if ((value.vt & VT_BYREF) == 0) return value;
    VariantCopyInd(holder.get(), source(value));
    return *holder;
  }

  static std::string textOf(const VARIANT& raw) {
    Variant holder;
    const VARIANT& value = direct(raw, holder);
    switch (value.vt) {
      case VT_BSTR:
        return value.bstrVal ? narrow(std::wstring_view(value.bstrVal, SysStringLen(value.bstrVal)))
                             : std::string();
      case VT_EMPTY:
      case VT_NULL:
      case VT_DISPATCH:
      case VT_UNKNOWN:
        return {};
      default: {
        Variant text;
        if (FAILED(VariantChangeTypeEx(text.get(), source(value), LOCALE_INVARIANT,
                                       VARIANT_ALPHABOOL, VT_BSTR)) ||
            !text->bstrVal) {
          return {};
        }
        return narrow(std::wstring_view(text->bstrVal, SysStringLen(text->bstrVal)));
      }
    }
  }

  static double numberOf(const VARIANT& raw) {
    Variant holder;
    const VARIANT& value = direct(raw, holder);
    if (value.vt == VT_R8) return value.dblVal;
    if (value.vt == VT_EMPTY || value.vt == VT_NULL || value.vt == VT_DISPATCH ||
        value.vt == VT_UNKNOWN) {
      return 0;
    }
    Variant number;
    if (FAILED(VariantChangeTypeEx(number.get(), source(value), LOCALE_INVARIANT, 0, VT_R8)))
      return 0;
    return number->dblVal;
  }

  static ObjectRef objectOf(const VARIANT& raw) {
    Variant holder;
    const VARIANT& value = direct(raw, holder);
    if (value.vt == VT_DISPATCH) return automationObject(value.pdispVal);
    if (value.vt == VT_UNKNOWN && value.punkVal) {
      ComPtr<IDispatch> object;
      if (SUCCEEDED(value.punkVal->QueryInterface(IID_IDispatch, object.putVoid()))) {
        return std::make_shared<DispatchObject>(std::move(object));
      }
    }
    return nullptr;
  }

  ComPtr<IDispatch> object_;
};

}  // namespace

ObjectRef automationObject(IDispatch* object) {
  if (!object) return nullptr;
  return std::make_shared<DispatchObject>(ComPtr<IDispatch>::share(object));
}

}  // namespace zandrel::win32
