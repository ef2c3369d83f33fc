#include "control/xml_settings_api.h"

#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <cctype>
#include <vector>

#include "control/tobrin_file_base.h"

namespace vantrel {

namespace {

// Not every MinGW import library carries these, so they are spelled out here.
constexpr CLSID kClsidDomDocument30 = {
    0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID kIidXmlDomDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
constexpr IID kIidXmlDomElement = {
    0x2933bf86, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

constexpr size_t kMaxModulePath = 512;

std::wstring ToWide(std::string_view text, UINT codePage) {
  if (text.empty() || text.size() > 0x7fffffff) return {};
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// The code page a document's XML declaration names; UTF-8 when it names none or one we do not
// know. Cameras that keep names in Latin-1 declare it, and reading those bytes as UTF-8 would
// turn every accented letter into a replacement character.
UINT DeclaredCodePage(std::string_view text) {
  if (text.substr(0, 5) != "<?xml") return CP_UTF8;
  std::string declaration(text.substr(0, text.find("?>")));
  for (char& c : declaration) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = declaration.find("encoding");
  if (at == std::string::npos) return CP_UTF8;
  const size_t quote = declaration.find_first_of("\"'", at);
  if (quote == std::string::npos) return CP_UTF8;
  const size_t end = declaration.find(declaration[quote], quote + 1);
  const std::string name = declaration.substr(quote + 1, end == std::string::npos ? 0 : end - quote - 1);
  if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1") return 28591;
  if (name == "windows-1252" || name == "cp1252") return 1252;
  if (name == "iso-8859-15") return 28605;
  if (name == "us-ascii" || name == "ascii") return 20127;
  return CP_UTF8;
}

std::string FromWide(const wchar_t* text, size_t length) {
  if (!text || length == 0) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

// Owns one BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return value_; }
  BSTR* out() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  std::wstring wide() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : std::wstring(); }
  std::string utf8() const { return value_ ? FromWide(value_, SysStringLen(value_)) : std::string(); }

 private:
  BSTR value_ = nullptr;
};

// Owns one COM reference.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : p_(p) {}
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** out() {
    Reset();
    return &p_;
  }
  T* Detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

bool IsAbsolutePath(const std::string& name) {
  if (name.size() >= 2 && name[1] == ':') return true;
  return name.size() >= 2 && (name[0] == '\\' || name[0] == '/') && (name[1] == '\\' || name[1] == '/');
}

std::string ExecutableDirectory() {
  char path[kMaxModulePath];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  // A path that filled the buffer may have been cut, so it names no directory we can trust.
  if (n == 0 || n >= sizeof(path) - 1) return {};
  std::string text(path, n);
  size_t slash = text.find_last_of('\\');
  return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

// Splits a path at the slashes that are outside predicates and quoted strings.
std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  int depth = 0;
  char quote = 0;
  for (char c : path) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (depth > 0) --depth;
    } else if (c == '/' && depth == 0) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
      continue;
    }
    current.push_back(c);
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

bool IsPlainName(const std::string& name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
    bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!(letter || (i > 0 && other))) return false;
  }
  return true;
}

}  // namespace

CXMLSettingsAPI::CXMLSettingsAPI(std::string baseDirectory) : baseDirectory_(std::move(baseDirectory)) {}

CXMLSettingsAPI::~CXMLSettingsAPI() {
  ReleaseDocument();
  // COM counts initialisations per thread; only the thread that joined may leave.
  if (comInitialized_ && comThread_ == GetCurrentThreadId()) CoUninitialize();
}

bool CXMLSettingsAPI::InitializeCom() {
  if (comInitialized_) return true;
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (hr == S_OK || hr == S_FALSE) {
    comInitialized_ = true;
    comThread_ = GetCurrentThreadId();
    return true;
  }
  // The thread already lives in another apartment: COM is usable, but not ours to leave.
  return hr == RPC_E_CHANGED_MODE;
}

void CXMLSettingsAPI::ReleaseDocument() {
  if (document_) document_->Release();
  document_ = nullptr;
  loaded_ = false;
  changed_ = false;
  filePath_.clear();
}

HRESULT CXMLSettingsAPI::NewDocument(IXMLDOMDocument2** out) {
  *out = nullptr;
  if (!InitializeCom()) return CO_E_NOTINITIALIZED;
  ComPtr<IUnknown> unknown;
  HRESULT hr = CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_ALL, IID_IUnknown,
                                reinterpret_cast<void**>(unknown.out()));
  if (FAILED(hr)) return hr;
  ComPtr<IXMLDOMDocument2> document;
  hr = unknown->QueryInterface(kIidXmlDomDocument2, reinterpret_cast<void**>(document.out()));
  if (FAILED(hr)) return hr;
  document->put_async(VARIANT_FALSE);
  document->put_validateOnParse(VARIANT_FALSE);
  // Camera replies and files are untrusted: no external entities or DTD fetches.
  document->put_resolveExternals(VARIANT_FALSE);
  VARIANT language;
  VariantInit(&language);
  language.vt = VT_BSTR;
  language.bstrVal = SysAllocString(L"XPath");
  Bstr property(L"SelectionLanguage");
  document->setProperty(property.get(), language);
  VariantClear(&language);
  *out = document.Detach();
  return S_OK;
}

std::string CXMLSettingsAPI::ResolvePath(const std::string& fileName) const {
  if (IsAbsolutePath(fileName)) return fileName;
  std::string directory = baseDirectory_.empty() ? ExecutableDirectory() : baseDirectory_;
  if (!directory.empty() && directory.back() != '\\' && directory.back() != '/') directory.push_back('\\');
  return directory + fileName;
}

HRESULT CXMLSettingsAPI::LoadFile(const char* fileName) {
  if (!fileName) return E_INVALIDARG;
  CScopedLock guard(lock_);
  ReleaseDocument();
  const std::string path = ResolvePath(fileName);
  if (!CTobrinFileBase::ExistsAndNotEmpty(path)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  ComPtr<IXMLDOMDocument2> document;
  HRESULT hr = NewDocument(document.out());
  if (FAILED(hr)) return hr;
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  std::wstring widePath = ToWide(path, CP_ACP);
  source.bstrVal = SysAllocStringLen(widePath.data(), static_cast<UINT>(widePath.size()));
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = document->load(source, &ok);
  VariantClear(&source);
  if (FAILED(hr)) return hr;
  if (ok != VARIANT_TRUE) return E_FAIL;
  document_ = document.Detach();
  filePath_ = path;
  loaded_ = true;
  return S_OK;
}

int CXMLSettingsAPI::CreateFile(const char* fileName, const char* rootName) {
  if (!fileName || !rootName || !IsPlainName(rootName)) return 0;
  CScopedLock guard(lock_);
  ReleaseDocument();
  const std::string path = ResolvePath(fileName);
  ComPtr<IXMLDOMDocument2> document;
  if (FAILED(NewDocument(document.out()))) return 0;

  Bstr target(L"xml");
  Bstr data(L"version='1.0' encoding='utf-8'");
  ComPtr<IXMLDOMProcessingInstruction> declaration;
  ComPtr<IXMLDOMNode> added;
  if (FAILED(document->createProcessingInstruction(target.get(), data.get(), declaration.out())) ||
      FAILED(document->appendChild(declaration.get(), added.out()))) {
    return 0;
  }
  Bstr name(ToWide(rootName, CP_UTF8));
  ComPtr<IXMLDOMElement> root;
  if (FAILED(document->createElement(name.get(), root.out())) ||
      FAILED(document->appendChild(root.get(), added.out()))) {
    return 0;
  }
  VARIANT destination;
  VariantInit(&destination);
  destination.vt = VT_BSTR;
  std::wstring widePath = ToWide(path, CP_ACP);
  destination.bstrVal = SysAllocStringLen(widePath.data(), static_cast<UINT>(widePath.size()));
  HRESULT hr = document->save(destination);
  VariantClear(&destination);
  if (FAILED(hr)) return 0;
  document_ = document.Detach();
  filePath_ = path;
  loaded_ = true;
  return 1;
}

HRESULT CXMLSettingsAPI::LoadXml(std::string_view text) {
  CScopedLock guard(lock_);
  ReleaseDocument();
  ComPtr<IXMLDOMDocument2> document;
  HRESULT hr = NewDocument(document.out());
  if (FAILED(hr)) return hr;
  Bstr xml(ToWide(text, DeclaredCodePage(text)));
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = document->loadXML(xml.get(), &ok);
  if (FAILED(hr)) return hr;
  if (ok != VARIANT_TRUE) {
    ComPtr<IXMLDOMParseError> error;
    long code = 0;
    if (SUCCEEDED(document->get_parseError(error.out())) && error && SUCCEEDED(error->get_errorCode(&code)) &&
        FAILED(code)) {
      return code;
    }
    return E_FAIL;
  }
  document_ = document.Detach();
  loaded_ = true;
  return S_OK;
}

IXMLDOMNode* CXMLSettingsAPI::SelectNode(const std::string& path) {
  if (!document_ || path.empty()) return nullptr;
  Bstr query(ToWide(path, CP_UTF8));
  IXMLDOMNode* node = nullptr;
  if (document_->selectSingleNode(query.get(), &node) != S_OK) {
    if (node) node->Release();
    return nullptr;
  }
  return node;
}

std::string CXMLSettingsAPI::GetAttribute(const std::string& path, const std::string& name) {
  CScopedLock guard(lock_);
  ComPtr<IXMLDOMNode> node(SelectNode(path));
  if (!node) return {};
  ComPtr<IXMLDOMNamedNodeMap> attributes;
  if (node->get_attributes(attributes.out()) != S_OK || !attributes) return {};
  Bstr attributeName(ToWide(name, CP_UTF8));
  ComPtr<IXMLDOMNode> attribute;
  if (attributes->getNamedItem(attributeName.get(), attribute.out()) != S_OK || !attribute) return {};
  Bstr text;
  if (FAILED(attribute->get_text(text.out()))) return {};
  return text.utf8();
}

std::string CXMLSettingsAPI::GetValue(const std::string& path) { return GetAttribute(path, "value"); }

std::wstring CXMLSettingsAPI::GetValueW(const std::string& path) {
  std::string value = GetValue(path);
  return ToWide(value, CP_UTF8);
}

std::string CXMLSettingsAPI::GetText(const std::string& path) {
  CScopedLock guard(lock_);
  ComPtr<IXMLDOMNode> node(SelectNode(path));
  if (!node) return {};
  Bstr text;
  if (FAILED(node->get_text(text.out()))) return {};
  return text.utf8();
}

bool CXMLSettingsAPI::NodeExists(const std::string& path) {
  CScopedLock guard(lock_);
  ComPtr<IXMLDOMNode> node(SelectNode(path));
  return static_cast<bool>(node);
}

bool CXMLSettingsAPI::RemoveNode(const std::string& path) {
  CScopedLock guard(lock_);
  ComPtr<IXMLDOMNode> node(SelectNode(path));
  if (!node) return false;
  ComPtr<IXMLDOMNode> parent;
  if (node->get_parentNode(parent.out()) != S_OK || !parent) return false;
  ComPtr<IXMLDOMNode> removed;
  if (FAILED(parent->removeChild(node.get(), removed.out()))) return false;
  changed_ = true;
  return true;
}

bool CXMLSettingsAPI::SetValue(const std::string& path, const std::string& value) {
  CScopedLock guard(lock_);
  return SetAttributeLocked(path, ToWide(value, CP_UTF8));
}

bool CXMLSettingsAPI::SetValueW(const std::string& path, const std::wstring& value) {
  CScopedLock guard(lock_);
  return SetAttributeLocked(path, value);
}

bool CXMLSettingsAPI::SetAttributeLocked(const std::string& path, const std::wstring& value) {
  const std::vector<std::string> parts = SplitPath(path);
  if (parts.empty()) return false;
  if (!document_) {
    // A value set before any load starts a document of its own (without a file behind it).
    if (FAILED(NewDocument(&document_))) return false;
    loaded_ = true;
  }
  ComPtr<IXMLDOMNode> current;
  if (FAILED(document_->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(current.out()))))
    return false;
  for (const std::string& part : parts) {
    Bstr query(ToWide(part, CP_UTF8));
    ComPtr<IXMLDOMNode> child;
    if (current->selectSingleNode(query.get(), child.out()) != S_OK || !child) {
      // Only plain names can be created; a predicate says which node, not how to make one.
      if (!IsPlainName(part)) return false;
      if (current.get() != nullptr) {
        DOMNodeType type = NODE_INVALID;
        current->get_nodeType(&type);
        if (type == NODE_DOCUMENT) {
          ComPtr<IXMLDOMElement> root;
          if (document_->get_documentElement(root.out()) == S_OK && root) return false;  // one root only
        }
      }
      Bstr name(ToWide(part, CP_UTF8));
      ComPtr<IXMLDOMElement> element;
      if (FAILED(document_->createElement(name.get(), element.out()))) return false;
      if (FAILED(current->appendChild(element.get(), child.out())) || !child) return false;
    }
    current.Reset();
    *current.out() = child.Detach();
  }
  ComPtr<IXMLDOMElement> element;
  if (FAILED(current->QueryInterface(kIidXmlDomElement, reinterpret_cast<void**>(element.out()))))
    return false;
  Bstr name(L"value");
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  HRESULT hr = element->setAttribute(name.get(), text);
  VariantClear(&text);
  if (FAILED(hr)) return false;
  changed_ = true;
  return true;
}

HRESULT CXMLSettingsAPI::Save() {
  CScopedLock guard(lock_);
  if (!document_ || !loaded_ || filePath_.empty()) return E_UNEXPECTED;
  VARIANT destination;
  VariantInit(&destination);
  destination.vt = VT_BSTR;
  std::wstring widePath = ToWide(filePath_, CP_ACP);
  destination.bstrVal = SysAllocStringLen(widePath.data(), static_cast<UINT>(widePath.size()));
  HRESULT hr = document_->save(destination);
  VariantClear(&destination);
  if (SUCCEEDED(hr)) changed_ = false;
  return hr;
}

bool CXMLSettingsAPI::IsLoaded() {
  CScopedLock guard(lock_);
  return loaded_;
}

bool CXMLSettingsAPI::IsChanged() {
  CScopedLock guard(lock_);
  return changed_;
}

std::string CXMLSettingsAPI::GetFilePath() {
  CScopedLock guard(lock_);
  return filePath_;
}

}  // namespace vantrel
