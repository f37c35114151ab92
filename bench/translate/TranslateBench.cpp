// Translate against bare libcurl: both post the same body to the same
// loopback server, one fresh connection per exchange, in the same run. The
// difference is what the exchange adds: encoding, endpoint detection, fixed
// headers, the cookie store and reply decoding. Client and server threads
// share the machine, so figures are steadiest with the program pinned to one
// CPU and the runs interleaved:
//   taskset -c 1 translate_bench --benchmark_repetitions=10
//       --benchmark_enable_random_interleaving=true --benchmark_min_time=0.5
// or, for the ratio of exchanges per second:
//   taskset -c 1 bench/compare.py --repetitions 10 build/bin/translate_bench
//       BareCurl/real_time:TranslateExchange/real_time
//   (which interleaves the runs itself)

#include "translate/CurlHttpClient.h"
#include "translate/Translate.h"
#include "unit/translate/RawHttpServer.h"
#include "unit/translate/TitleListWindows.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

namespace {

using namespace velantro::translate;
using velantro::translate::testing::RawHttpServer;

const std::u16string Text = u"Hello, how are you today? Shall we meet for coffee at five?";
const std::string Reply = "l1=Hola%2C+%C2%BFc%C3%B3mo+est%C3%A1s+hoy%3F&";

RawHttpServer& Server() {
    static RawHttpServer server(RawHttpServer::Reply(
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(Reply.size()) + "\r\n\r\n" + Reply));
    return server;
}

std::string WebUrl() {
    return "http://127.0.0.1:" + std::to_string(Server().Port()) + "/vl.asp";
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

void BareCurl(benchmark::State& state) {
    const std::string url = WebUrl();
    const std::string body = BuildRequestBody(Text, 5);
    CURL* curl = curl_easy_init();
    std::string received;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    for (auto _ : state) {
        received.clear();
        if (curl_easy_perform(curl) != CURLE_OK || received != Reply) {
            state.SkipWithError("bare exchange failed");
            break;
        }
        benchmark::DoNotOptimize(received);
    }
    state.SetItemsProcessed(state.iterations());
    curl_easy_cleanup(curl);
}
BENCHMARK(BareCurl)->UseRealTime();

void TranslateExchange(benchmark::State& state) {
    const Endpoints endpoints{"http://127.0.0.1:1/", WebUrl()};
    CurlHttpClient http;
    // A desktop with a few dozen windows, none of them the local program.
    velantro::translate::testing::TitleListWindows windows;
    for (int i = 0; i < 40; ++i) {
        windows.Titles.push_back("Window " + std::to_string(i));
    }
    const std::u16string expected = u"Hola, \u00BFc\u00F3mo est\u00E1s hoy?";
    for (auto _ : state) {
        std::u16string translation = Translate(Text, 5, http, endpoints, windows);
        if (translation != expected) {
            state.SkipWithError("unexpected translation");
            break;
        }
        benchmark::DoNotOptimize(translation);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(TranslateExchange)->UseRealTime();

// The HTTP client alone, without encoding, detection and decoding.
void CurlHttpClientPost(benchmark::State& state) {
    const std::string url = WebUrl();
    const std::string body = BuildRequestBody(Text, 5);
    CurlHttpClient http;
    for (auto _ : state) {
        std::string r = http.PostForm(url, body);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CurlHttpClientPost)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
