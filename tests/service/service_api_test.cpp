#include "service/service_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

class ServiceApi : public testing::Test {
  protected:
    void TearDown() override {
        SetServiceOrigin({});
        SetCatalogueAccessToken({});
    }
};

TEST_F(ServiceApi, DefaultsToTheLocalServer) {
    EXPECT_EQ(ServiceOrigin(), "http://127.0.0.1:8017");
    EXPECT_EQ(ServiceHost(), "127.0.0.1:8017");
}

TEST_F(ServiceApi, HostIsTakenFromTheConfiguredOrigin) {
    SetServiceOrigin("https://dub.example.test/");
    EXPECT_EQ(ServiceOrigin(), "https://dub.example.test");
    EXPECT_EQ(ServiceHost(), "dub.example.test");

    SetServiceOrigin("http://[::1]:9000//");
    EXPECT_EQ(ServiceOrigin(), "http://[::1]:9000");
    EXPECT_EQ(ServiceHost(), "[::1]:9000");

    SetServiceOrigin({});
    EXPECT_EQ(ServiceOrigin(), kDefaultServiceOrigin);
}

TEST_F(ServiceApi, DefaultTokenIsTheDevelopmentJwt) {
    const std::string token = CatalogueAccessToken();
    EXPECT_EQ(token.size(), 236u);
    EXPECT_EQ(std::count(token.begin(), token.end(), '.'), 2);

    SetCatalogueAccessToken("abc.def.ghi");
    EXPECT_EQ(CatalogueAccessToken(), "abc.def.ghi");
    SetCatalogueAccessToken({});
    EXPECT_EQ(CatalogueAccessToken(), token);
}

TEST_F(ServiceApi, CatalogueHeaderBlockLines) {
    SetServiceOrigin("http://127.0.0.1:4321");
    SetCatalogueAccessToken("aaa.bbb.ccc");
    EXPECT_EQ(CatalogueHeaderBlock(),
              "Host: 127.0.0.1:4321\r\n"
              "Connection: keep-alive\r\n"
              "Accept: application/json, text/plain, */*\r\n"
              "Authorization: aaa.bbb.ccc\r\n"
              "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, "
              "like Gecko) Chrome/71.0.3578.80 Safari/537.36\r\n"
              "Referer: http://127.0.0.1:4321/\r\n"
              "Accept-Language: zh-CN,zh;q=0.9\r\n");
}

TEST_F(ServiceApi, SynthesisHeaderBlockLines) {
    SetServiceOrigin("http://127.0.0.1:4321");
    EXPECT_EQ(SynthesisHeaderBlock(),
              "Host: 127.0.0.1:4321\r\n"
              "Connection: keep-alive\r\n"
              "Accept: application/json, text/plain, */*\r\n"
              "Origin: http://127.0.0.1:4321\r\n"
              "Authorization: \r\n"
              "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, "
              "like Gecko) Chrome/71.0.3578.80 Safari/537.36\r\n"
              "Content-Type: application/json;charset=UTF-8\r\n"
              "Referer: http://127.0.0.1:4321/\r\n"
              "Accept-Language: zh-CN,zh;q=0.9\r\n");
}

TEST_F(ServiceApi, OutOfRangeNumbersAskForCategoryOneOrNothing) {
    EXPECT_EQ(SpeakerCategoryUrl(0, "5"), SpeakerCategoryUrl(1, "5"));
    EXPECT_EQ(SpeakerCategoryUrl(6, "5"), "http://127.0.0.1:8017/pc/api/reader/readerInfo/1?T=5");
    EXPECT_EQ(BackgroundListUrl(0, "5"), "");
    EXPECT_EQ(BackgroundListUrl(11, "5"), "");
}

}  // namespace
