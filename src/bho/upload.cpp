#include "bho/html_document.h"
#include "bho/page_scan.h"
#include "bho/shake_bho.h"
#include "foundation/log.h"
#include "service/picture_upload.h"

namespace kvshake {

using Microsoft::WRL::ComPtr;

namespace {

// Only a page whose protocol reads as something other than http: or https: is not a web page;
// one whose protocol cannot be read is taken for a web page.
bool IsNotAWebPage(IHTMLDocument2& document) {
    ComPtr<IHTMLWindow2> window;
    ComPtr<IHTMLLocation> location;
    if (FAILED(document.get_parentWindow(&window)) || !window ||
        FAILED(window->get_location(&location)) || !location) {
        return false;
    }
    const std::optional<std::wstring> protocol =
        ReadText(location.Get(), &IHTMLLocation::get_protocol);
    return protocol && *protocol != L"http:" && *protocol != L"https:";
}

}  // namespace

// Runs on the tab's thread, the service's answer included, while the checker that sent the
// shake waits for it.
void CShakeBHO::uploadPic() {
    WriteLog("uploadPic start");
    const ComPtr<IHTMLDocument2> document = TabDocument(m_spWebBrowser.Get());
    if (!document) return;
    const ShakeUpload upload;
    if (IsNotAWebPage(*document.Get())) {
        upload.SendNotAWebPage();
        return;
    }

    std::wstring pictures;
    const bool imagesFound = ScanImages(*document.Get(), pictures);
    const bool backgroundsFound = ScanBackgrounds(*document.Get(), pictures);
    // The tip says a picture is being sent exactly when the upload carries one.
    InsertTip(document.Get(), imagesFound || backgroundsFound);

    const std::optional<std::wstring> title = ReadText(document.Get(), &IHTMLDocument2::get_title);
    const std::wstring url = ReadText(document.Get(), &IHTMLDocument2::get_URL).value_or(L"");
    WriteWCharLog("uploadPic, Url: ", url.c_str());
    upload.SendWebPage(title, url, pictures);
}

}  // namespace kvshake
