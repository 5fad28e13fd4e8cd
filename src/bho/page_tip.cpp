// The tip inside the page: a div with the tip picture as its background, shown near the upper
// right corner of the visible page for three seconds after a shake.
#include "bho/hidden_window.h"
#include "bho/html_document.h"
#include "bho/page_scan.h"
#include "bho/shake_bho.h"
#include "bho/tip_timer.h"
#include "foundation/log.h"
#include "foundation/shared_state.h"
#include "foundation/text.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

namespace {

constexpr UINT kTipShownMs = 3000;
constexpr long kTipTopPixels = 30;
constexpr wchar_t kPictureTipStyle[] =
    L"right:10px;z-index:99999;width:259px;height:59px;"
    L"background-image:url(\"res://KVShake/224\");";
constexpr wchar_t kNoPictureTipStyle[] =
    L"right:10px;z-index:99999;width:255px;height:53px;"
    L"background-image:url(\"res://KVShake/223\");";

long ScrollTopOf(IUnknown* element) {
    ComPtr<IHTMLElement2> element2;
    long scrollTop = 0;
    if (element && SUCCEEDED(element->QueryInterface(IID_PPV_ARGS(&element2))) && element2 &&
        FAILED(element2->get_scrollTop(&scrollTop))) {
        scrollTop = 0;
    }
    return scrollTop;
}

long DocumentElementScrollTop(IHTMLDocument2& document) {
    ComPtr<IHTMLDocument3> document3;
    ComPtr<IHTMLElement> root;
    if (FAILED(document.QueryInterface(IID_PPV_ARGS(&document3))) || !document3 ||
        FAILED(document3->get_documentElement(&root))) {
        return 0;
    }
    return ScrollTopOf(root.Get());
}

// Before version 9 the tip sits in document coordinates, below the part scrolled away.
std::wstring PositionStyle(long scrollOffset) {
    if (SharedState().g_nIEVersion >= 9) return L"position:fixed;top:30px;";
    const std::string position =
        StringPrintf("position:absolute;top:%ldpx;", scrollOffset + kTipTopPixels);
    return std::wstring(position.begin(), position.end());
}

bool SetWholeStyle(IHTMLElement& element, const std::wstring& styleText) {
    const ComPtr<IHTMLStyle> style = InlineStyleOf(element);
    const unique_bstr text(::SysAllocStringLen(styleText.data(), UINT(styleText.size())));
    return style && text && SUCCEEDED(style->put_cssText(text.get()));
}

ComPtr<IHTMLElement> NewTipElement(IHTMLDocument2& document) {
    ComPtr<IHTMLElement> element;
    const unique_bstr tag(::SysAllocString(L"div"));
    const unique_bstr className(::SysAllocString(L"container"));
    const unique_bstr id(::SysAllocString(kTipElementId));
    if (!tag || !className || !id || FAILED(document.createElement(tag.get(), &element)) ||
        !element) {
        return nullptr;
    }
    element->put_className(className.get());
    element->put_id(id.get());
    return element;
}

void AppendToBody(IHTMLElement& body, IHTMLElement& element) {
    ComPtr<IHTMLDOMNode> bodyNode;
    ComPtr<IHTMLDOMNode> node;
    ComPtr<IHTMLDOMNode> appended;
    if (SUCCEEDED(body.QueryInterface(IID_PPV_ARGS(&bodyNode))) && bodyNode &&
        SUCCEEDED(element.QueryInterface(IID_PPV_ARGS(&node))) && node) {
        bodyNode->appendChild(node.Get(), &appended);
    }
}

void LogTimerArmed(bool armed, DWORD error) {
    const int currentThread = static_cast<int>(::GetCurrentThreadId());
    const int windowThread =
        static_cast<int>(::GetWindowThreadProcessId(SharedState().g_hwnd, nullptr));
    if (armed) {
        WriteLog(StringPrintf("SetTime SendMsgRMTip Suc, Current ThreadId:%d, Window ThreadId:%d",
                              currentThread, windowThread));
    } else {
        WriteError(StringPrintf(
            "SetTime SendMsgRMTip Error, Error Code:%d, Current ThreadId:%d, Window ThreadId:%d",
            static_cast<int>(error), currentThread, windowThread));
    }
}

}  // namespace

void CShakeBHO::InsertTip(IHTMLDocument2* document, bool found) {
    WriteLog("InsertTip Start");
    GetIEVersion();
    std::wstring styleText = found ? kPictureTipStyle : kNoPictureTipStyle;
    if (!document) return;

    ComPtr<IHTMLElement> body;
    const bool bodyRead = SUCCEEDED(document->get_body(&body));
    styleText +=
        PositionStyle(std::max(DocumentElementScrollTop(*document), ScrollTopOf(body.Get())));

    // A tip that an earlier shake left in the page is shown again with the new style text.
    const ComPtr<IHTMLElement> oldTip = bodyRead ? ElementById(*document, kTipElementId) : nullptr;
    if (oldTip) {
        SetWholeStyle(*oldTip.Get(), styleText);
    } else if (bodyRead && body) {
        if (const ComPtr<IHTMLElement> tip = NewTipElement(*document)) {
            SetWholeStyle(*tip.Get(), styleText);
            AppendToBody(*body.Get(), *tip.Get());
        }
    }

    const bool armed = ArmTipTimer(m_hHideWnd, kTipShownMs);
    LogTimerArmed(armed, ::GetLastError());
    SharedState().g_NeedRemoveTipHwnd = m_hHideWnd;
    WriteWCharLog("Url:", ReadText(document, &IHTMLDocument2::get_URL).value_or(L"").c_str());
    WriteLog(oldTip ? "g_NeedRemoveTipHwnd = End & InsertTip End, Type : Modify Old"
                    : "g_NeedRemoveTipHwnd = End & InsertTip End, Type : New Insert");
}

void CShakeBHO::RemoveTip() {
    WriteLog("RemoveTip Start");
    if (const ComPtr<IHTMLDocument2> document = TabDocument(m_spWebBrowser.Get())) {
        WriteWCharLog("RemoveTip, Url:",
                      ReadText(document.Get(), &IHTMLDocument2::get_URL).value_or(L"").c_str());
        const ComPtr<IHTMLElement> tip = ElementById(*document.Get(), kTipElementId);
        const ComPtr<IHTMLStyle> style = tip ? InlineStyleOf(*tip.Get()) : nullptr;
        const unique_bstr none(::SysAllocString(L"none"));
        if (style && none) style->put_display(none.get());
    }
    WriteLog("RemoveTip End");
}

}  // namespace kvshake
