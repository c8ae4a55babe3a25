// The external browser on Windows (see external_browser.h): automation of
// "InternetExplorer.Application" through IDispatch ("Visible" := true, then "Navigate"), and
// ShellExecute for the shell's default action. Every COM object and allocation is released on
// every path; the browser window stays open after the object is released.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "web/external_browser.h"

namespace quillon::web {

namespace {

class TComScope {
 public:
  TComScope() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
  ~TComScope() {
    if (ok_) CoUninitialize();
  }

 private:
  bool ok_;
};

template <class T>
class TComPtr {
 public:
  ~TComPtr() {
    if (p) p->Release();
  }
  T* p = nullptr;
};

class TVariant {
 public:
  TVariant() { VariantInit(&v); }
  ~TVariant() { VariantClear(&v); }
  TVariant(const TVariant&) = delete;
  TVariant& operator=(const TVariant&) = delete;
  VARIANT v;
};

std::wstring Wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    char code[16];
    wsprintfA(code, "%08lX", static_cast<unsigned long>(hr));
    throw EAutomationError(std::string("Browser automation failed (") + what + ", error " + code + ")");
  }
}

DISPID DispId(IDispatch* object, const wchar_t* name) {
  DISPID id = 0;
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
  Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), "name lookup");
  return id;
}

void MakeBstr(TVariant& target, const std::string& text) {
  std::wstring wide = Wide(text);
  target.v.vt = VT_BSTR;
  target.v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

void MakeMissing(TVariant& target) {
  target.v.vt = VT_ERROR;
  target.v.scode = DISP_E_PARAMNOTFOUND;
}

void Navigate(IDispatch* browser, const std::string& address, const std::string& postData) {
  TVariant visible;
  visible.v.vt = VT_BOOL;
  visible.v.boolVal = VARIANT_TRUE;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS setVisible = {&visible.v, &put, 1, 1};
  Check(browser->Invoke(DispId(browser, L"Visible"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &setVisible,
                        nullptr, nullptr, nullptr),
        "Visible");

  // Arguments go in reverse order: headers, post data, target frame, flags, address.
  TVariant args[5];
  MakeBstr(args[4], address);
  if (postData.empty()) {
    for (int i = 0; i < 4; ++i) MakeMissing(args[i]);
  } else {
    MakeMissing(args[3]);
    MakeMissing(args[2]);
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(postData.size()));
    if (!bytes) throw EAutomationError("Out of memory for the post data");
    void* data = nullptr;
    SafeArrayAccessData(bytes, &data);
    std::copy(postData.begin(), postData.end(), static_cast<char*>(data));
    SafeArrayUnaccessData(bytes);
    args[1].v.vt = VT_ARRAY | VT_UI1;
    args[1].v.parray = bytes;
    MakeBstr(args[0], "Content-Type: application/x-www-form-urlencoded\r\n");
  }
  VARIANT raw[5];
  for (int i = 0; i < 5; ++i) raw[i] = args[i].v;
  DISPPARAMS call = {raw, nullptr, 5, 0};
  Check(browser->Invoke(DispId(browser, L"Navigate"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &call, nullptr,
                        nullptr, nullptr),
        "Navigate");
}

class TWin32Browser : public TExternalBrowser {
 public:
  void OpenInBrowser(const std::string& address, const std::string& postData) override {
    TComScope com;
    CLSID id;
    TComPtr<IDispatch> browser;
    if (FAILED(CLSIDFromProgID(L"InternetExplorer.Application", &id)) ||
        FAILED(CoCreateInstance(id, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&browser.p)))) {
      ShellOpen(address);
      return;
    }
    Navigate(browser.p, address, postData);
  }

  void ShellOpen(const std::string& target) override {
    ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
};

}  // namespace

std::unique_ptr<TExternalBrowser> MakeSystemBrowser() {
  return std::make_unique<TWin32Browser>();
}

}  // namespace quillon::web
