// Certificates are verified: a server whose certificate no trusted authority signed is refused.
#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>  // mkdtemp

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "http/http_request.h"

namespace {

class SelfSignedServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/dubdesk-https-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
            " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
            Path("key.pem") + " -out " + Path("cert.pem") + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        server_ =
            std::make_unique<httplib::SSLServer>(Path("cert.pem").c_str(), Path("key.pem").c_str());
        ASSERT_TRUE(server_->is_valid());
        server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("secret", "text/plain");
        });
        // The socket listens from here on, so clients may connect before the accept loop runs.
        port_ = server_->bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_->listen_after_bind(); });
    }

    void TearDown() override {
        if (thread_.joinable()) {
            server_->stop();
            thread_.join();
        }
        std::filesystem::remove_all(folder_);
    }

    std::string Path(const std::string& name) const { return folder_ + "/" + name; }
    std::string Url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }

    std::string folder_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
};

TEST_F(SelfSignedServerTest, IsRefused) {
    // The server itself works when its certificate is not checked.
    httplib::SSLClient unchecked("127.0.0.1", port_);
    unchecked.enable_server_certificate_verification(false);
    httplib::Result answer = unchecked.Get("/");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->body, "secret");

    int status = -1;
    std::string responseHeaders = "stale";
    HttpError error;
    std::string body = PerformHttpRequest({.url = Url(),
                                           .responseHeaders = &responseHeaders,
                                           .statusCode = &status,
                                           .error = &error});
    EXPECT_EQ(body, "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(responseHeaders, "");
    EXPECT_EQ(error.kind, HttpError::Kind::TlsRefused) << error.message;
}

}  // namespace
