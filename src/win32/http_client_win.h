// The strike-count fetch over WinHTTP, on a thread beside the window.
#pragma once

#include <memory>

#include "core/http_client.h"
#include "win32/handles_win.h"

namespace stormtally {

class WinHttpClient final : public HttpClient {
 public:
  // Made on the window's thread, where the answers arrive.
  explicit WinHttpClient(HINSTANCE instance);
  ~WinHttpClient() override;
  WinHttpClient(const WinHttpClient&) = delete;
  WinHttpClient& operator=(const WinHttpClient&) = delete;

  void start(const std::string& url, const std::string& fields, Answered answered) override;
  void cancel() override;

  struct Request;

 private:
  static LRESULT CALLBACK answerWindowProc(HWND, UINT, WPARAM, LPARAM);

  UniqueWindow window_;  // message-only: each answer arrives here as a message
  std::shared_ptr<Request> current_;
  Answered answered_;
  LPARAM started_ = 0;
};

}  // namespace stormtally
