#include "service/picture_upload.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "service/http_transport.h"
#include "service/protocol.h"
#include "service/service_config.h"

namespace kvshake {

namespace {

constexpr wchar_t kNotAWebPageBody[] = L"stat=notfound";

bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::string Utf8Title(const std::wstring& title) {
    std::string utf8 = WideToUtf8(title.c_str()).value_or(std::string());
    if (utf8.size() < kTitleBufferBytes) return utf8;
    // Too long for the buffer: keep the whole characters that fit beside the terminator.
    size_t length = kTitleBufferBytes - 1;
    while (length > 0 && IsUtf8Continuation(utf8[length])) --length;
    utf8.resize(length);
    return utf8;
}

ShakeUpload::ShakeUpload() : path_(UploadPath()) {}

void ShakeUpload::SendNotAWebPage() const { Send(kNotAWebPageBody); }

void ShakeUpload::SendWebPage(const std::optional<std::wstring>& title, const std::wstring& pageUrl,
                              const std::wstring& pictures) const {
    const std::string encodedTitle = UrlEncode(Utf8Title(title.value_or(std::wstring())));
    // The encoded title is plain ASCII, which every code page reads the same.
    const std::wstring body = L"title=" + std::wstring(encodedTitle.begin(), encodedTitle.end()) +
                              L"&pageurl=" + EncodeFieldValue(pageUrl) + pictures;
    Send(body);
}

// The answer is only logged: whatever it says changes nothing.
void ShakeUpload::Send(const std::wstring& body) const {
    const std::optional<std::wstring> response =
        PostData(kServiceHost, path_.c_str(), body.c_str());
    if (response) WriteWCharLog("uploadPic PostData Result: ", response->c_str());
}

}  // namespace kvshake
