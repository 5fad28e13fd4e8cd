// Which page of the panel follows which, the panel's size for each, the login recognised in the
// login page's frame, and the state that the status and settings pages show.
#include "panel/page_routing.h"

#include <string_view>

#include "bho/hidden_window.h"
#include "bho/html_document.h"
#include "bho/panel_link.h"
#include "bho/window_locate.h"
#include "foundation/log.h"
#include "foundation/named_mutex.h"
#include "foundation/settings_store.h"
#include "foundation/shared_state.h"
#include "panel/external.h"
#include "service/activation.h"
#include "service/service_config.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

namespace {

std::wstring HrefOf(IHTMLDocument2& document) {
    ComPtr<IHTMLLocation> location;
    if (FAILED(document.get_location(&location)) || !location) return std::wstring();
    return ReadText(location.Get(), &IHTMLLocation::get_href).value_or(L"");
}

void SetDisplay(IHTMLDocument2& document, const wchar_t* id, const wchar_t* display) {
    const ComPtr<IHTMLElement> element = ElementById(document, id);
    const ComPtr<IHTMLStyle> style = element ? InlineStyleOf(*element.Get()) : nullptr;
    const unique_bstr value(::SysAllocString(display));
    if (style && value) style->put_display(value.get());
}

// The service's bind page, after a QR login, names the account in its window's name.
std::wstring WindowNameOf(IHTMLDocument2& document) {
    ComPtr<IHTMLWindow2> window;
    if (FAILED(document.get_parentWindow(&window)) || !window) return std::wstring();
    return ReadText(window.Get(), &IHTMLWindow2::get_name).value_or(L"");
}

// The pages through which a QR login reaches the bind page: the login host's and the service's,
// over TLS. Pages of the browser's own (about:, res:) carry nothing from anywhere else.
bool OnTheLoginsWay(const std::wstring& protocol, const std::wstring& hostname) {
    if (protocol == L"about:" || protocol == L"res:") return true;
    const std::wstring_view loginHost(kLoginHost);
    return protocol == L"https:" &&
           (hostname == kServiceHost || hostname == loginHost.substr(0, loginHost.find(L':')));
}

bool HasTitleBar(HWND window) {
    return (::GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
}

}  // namespace

void ShowPanelPage(const char* pageName, const wchar_t* url) {
    ResizePanel(pageName);
    SendGoPageMsg(url);
}

void ResizePanel(const char* pageName) {
    WriteLog(std::string("SetWindowPos : ") + pageName);
    const HWND panel = SharedState().g_hwnd;
    if (!IsPanelWindow(panel)) return;
    const SIZE size = PanelSizeOf(pageName);
    if (HasTitleBar(panel)) {
        // A panel opened without the toolbar is a window of the user's: it stays where it is,
        // and shows the page as much as the toolbar's panel, whose frame is a plain border.
        RECT frame = {0, 0, size.cx - 2 * ::GetSystemMetrics(SM_CXBORDER),
                      size.cy - 2 * ::GetSystemMetrics(SM_CYBORDER)};
        ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(panel, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(::GetWindowLongW(panel, GWL_EXSTYLE)));
        ::SetWindowPos(panel, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    const POINT corner = GetWindowLocate(size.cx, size.cy);
    ::MoveWindow(panel, corner.x, corner.y, size.cx, size.cy, TRUE);
}

void RefreshPanelPage(CWebBrowser& browser) {
    const ComPtr<IHTMLDocument2> document = browser.GetDocument();
    if (!document) return;
    if (!TokenStored()) {
        ShowPanelPage(kLoginPage, kLoginUrl);
        return;
    }
    if (HrefOf(*document.Get()) != kStatusUrl) return;
    ScopedNamedMutex lock(kMutexForActive, mutex_holders.g_hMutexForActive);
    if (lock.Held()) browser.ShowActiveState(SharedState().g_bActive);
}

void CWebBrowser::OnDocumentComplete(IDispatch* frame) {
    WriteLog("WebBrowser Document onload");
    ComPtr<IWebBrowser2> frameBrowser;
    if (!frame || FAILED(frame->QueryInterface(IID_PPV_ARGS(&frameBrowser)))) return;
    const ComPtr<IHTMLDocument2> document = TabDocument(frameBrowser.Get());
    ComPtr<IHTMLLocation> location;
    if (!document || FAILED(document->get_location(&location)) || !location) return;
    const std::wstring hostname =
        ReadText(location.Get(), &IHTMLLocation::get_hostname).value_or(L"");
    const std::wstring href = ReadText(location.Get(), &IHTMLLocation::get_href).value_or(L"");
    WriteWCharLog("Load Href:", href.c_str());

    // Only the service's own page, over TLS, hands over an account, and only when the login's
    // frame came there through the login's own pages: a window name survives going across sites.
    const std::wstring protocol =
        ReadText(location.Get(), &IHTMLLocation::get_protocol).value_or(L"");
    if (href == kLoginUrl) {
        m_loginLeftFor.clear();
    } else if (m_loginLeftFor.empty() && !OnTheLoginsWay(protocol, hostname)) {
        m_loginLeftFor = href;
    }
    const std::wstring account = WindowNameOf(*document.Get());
    const bool bindPage = hostname == kServiceHost && protocol == L"https:" && !account.empty();
    if (bindPage && !m_loginLeftFor.empty()) {
        WriteWCharLog("Login ignored, the login's frame has been elsewhere since: ",
                      m_loginLeftFor.c_str());
    } else if (bindPage) {
        WriteLog("Login Suc");
        SaveAccount(account);
        ShowPanelPage(kStatusPage, kStatusUrl);  // the status page loads after the activation
        if (m_pOwner) m_pOwner->activate();
    }
    if (href == kStatusUrl) ShowActiveState(SharedState().g_bActive);
    if (href != kSettingsUrl && href != kStatusUrl) return;
    if (href == kSettingsUrl) ShowUserName();

    // The status and settings pages reach the module through window.external.
    ComPtr<ICustomDoc> customDocument;
    if (SUCCEEDED(document.As(&customDocument)) && customDocument) {
        customDocument->SetUIHandler(this);
    }
    if (External* created = External::Create()) {
        created->SetOwner(m_pOwner);
        ComPtr<IDispatch> external(created);
        created->Release();  // the smart pointer holds the one reference now
        SetExternal(std::move(external));
    }
}

void CWebBrowser::ShowActiveState(bool active) {
    const ComPtr<IHTMLDocument2> document = GetDocument();
    if (!document || HrefOf(*document.Get()) != kStatusUrl) return;
    SetDisplay(*document.Get(), L"disactived", active ? L"none" : L"block");
    SetDisplay(*document.Get(), L"actived", active ? L"block" : L"none");
}

void CWebBrowser::ShowUserName() {
    const ComPtr<IHTMLDocument2> document = GetDocument();
    ComPtr<IHTMLDocument3> document3;
    if (!document || FAILED(document.As(&document3)) || !document3) return;
    std::wstring nickname;
    ReadReg(kNicknameValue, nickname);
    const unique_bstr text(::SysAllocStringLen(nickname.data(), UINT(nickname.size())));
    ComPtr<IHTMLDOMNode> textNode;
    if (!text || FAILED(document3->createTextNode(text.get(), &textNode)) || !textNode) return;
    const ComPtr<IHTMLElement> userName = ElementById(*document.Get(), L"userName");
    ComPtr<IHTMLDOMNode> userNameNode;
    ComPtr<IHTMLDOMNode> appended;
    if (userName && SUCCEEDED(userName.As(&userNameNode)) && userNameNode) {
        userNameNode->appendChild(textNode.Get(), &appended);
    }
}

}  // namespace kvshake
