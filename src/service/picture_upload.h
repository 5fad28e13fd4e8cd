#pragma once

#include <optional>
#include <string>

namespace kvshake {

// The upload that answers a shake: what the tab in front found on its page, sent to the
// service's shakeupload request. The page itself is read by the caller; this is the request.
class ShakeUpload {
  public:
    // Reads the stored account into the request path.
    ShakeUpload();

    // For a page that is not a web page: the body is "stat=notfound" alone.
    void SendNotAWebPage() const;

    // For a web page: the title (nullopt when the page has none), sent UTF-8 and form-encoded;
    // the page's address, encoded with EncodeFieldValue, and the picture list as the scans made it.
    void SendWebPage(const std::optional<std::wstring>& title, const std::wstring& pageUrl,
                     const std::wstring& pictures) const;

  private:
    void Send(const std::wstring& body) const;

    std::wstring path_;
};

// The UTF-8 bytes of the title as the body carries them: every character of it, straight from
// UTF-16, cut at a character boundary to fit the title buffer with its terminator when longer.
inline constexpr size_t kTitleBufferBytes = 1024;
std::string Utf8Title(const std::wstring& title);

}  // namespace kvshake
