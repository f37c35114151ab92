#pragma once

// What the translation exchange needs of an HTTP client.

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velantro::translate {

/// A failed exchange; the message is the one shown to the user.
class HttpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HttpClient {
public:
    virtual ~HttpClient() = default;

    /// Posts body, already form-encoded, to url as
    /// application/x-www-form-urlencoded and gives back the reply body for a
    /// 2xx status. Raises HttpError for every other outcome.
    virtual std::string PostForm(const std::string& url, std::string_view body) = 0;

    /// Asked while an exchange runs: when it gives true the exchange ends at
    /// once with an HttpError. May be asked on the thread that runs the
    /// exchange; a client whose exchanges end quickly by themselves ignores it.
    virtual void AbandonWhen(const std::function<bool()>& /*abandon*/) {}
};

} // namespace velantro::translate
