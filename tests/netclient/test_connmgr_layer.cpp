// The simulated Connection Manager: configuration, requests, detailed status, notifications.
#include <gtest/gtest.h>

#include <vector>

#include "platform/connmgr.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace {

std::vector<std::pair<HWND, DWORD>> g_delivered;
void Record(HWND w, DWORD s) { g_delivered.push_back({w, s}); }

struct ConnMgrLayer : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(platform::ConnMgrConfigure(L""));
        platform::ConnMgrSetDelivery(Record);
        g_delivered.clear();
    }
    void TearDown() override {
        platform::ConnMgrSetDelivery(nullptr);
        platform::ConnMgrConfigure(L"");
    }
    static std::vector<std::wstring> Destinations() {
        std::vector<std::wstring> out;
        CONNMGR_DESTINATION_INFO info;
        for (int i = 0; ConnMgrEnumDestinations(i, &info) >= 0; ++i) out.push_back(info.szDescription);
        return out;
    }
    static HRESULT Establish(int index, HANDLE* h, DWORD* status) {
        CONNMGR_DESTINATION_INFO info;
        if (ConnMgrEnumDestinations(index, &info) < 0) return E_FAIL;
        CONNMGR_CONNECTIONINFO req{};
        req.cbSize = sizeof(req);
        req.dwParams = CONNMGR_PARAM_GUIDDESTNET;
        req.guidDestNet = info.guid;
        return ConnMgrEstablishConnectionSync(&req, h, 20000, status);
    }
    static std::vector<CONNMGR_CONNECTION_DETAILED_STATUS> Detailed(std::vector<BYTE>* storage) {
        DWORD size = 0;
        EXPECT_EQ(ConnMgrQueryDetailedStatus(nullptr, &size), static_cast<HRESULT>(0x8007007A));
        storage->assign(size, 0);
        auto* first = reinterpret_cast<CONNMGR_CONNECTION_DETAILED_STATUS*>(storage->data());
        std::vector<CONNMGR_CONNECTION_DETAILED_STATUS> out;
        if (size == 0 || ConnMgrQueryDetailedStatus(first, &size) != S_OK) return out;
        for (auto* p = first; p; p = p->pNext) out.push_back(*p);
        return out;
    }
};

TEST_F(ConnMgrLayer, DefaultIsOneInternetDestinationOverWifiThatIsUp) {
    EXPECT_EQ(Destinations(), std::vector<std::wstring>{L"Internet"});
    std::vector<BYTE> buf;
    auto recs = Detailed(&buf);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].dwType, 2u);
    EXPECT_EQ(recs[0].dwSubtype, 2u);
    EXPECT_EQ(recs[0].dwConnectionStatus, 16u);
    HANDLE h = nullptr;
    DWORD status = 0;
    ASSERT_EQ(Establish(0, &h, &status), S_OK);
    EXPECT_EQ(status, 16u);
    EXPECT_EQ(ConnMgrConnectionStatus(h, &status), S_OK);
    EXPECT_EQ(status, 16u);
    EXPECT_EQ(ConnMgrReleaseConnection(h, 0), S_OK);
    EXPECT_NE(ConnMgrReleaseConnection(h, 0), S_OK) << "a handle is released once";
}

TEST_F(ConnMgrLayer, ConfiguredOutcomesOfARequest) {
    ASSERT_TRUE(platform::ConnMgrConfigure(
        L"dest=中国移动 cmwap,connect=fail,hr=0x80004005,status=33;"
        L"dest=My ISP,connect=status,status=36;"
        L"dest=Internet,delay=300;"
        L"conn=GPRS,type=1,subtype=2,status=32"));
    EXPECT_EQ(Destinations(), (std::vector<std::wstring>{L"中国移动 cmwap", L"My ISP", L"Internet"}));
    HANDLE h = nullptr;
    DWORD status = 0;
    EXPECT_EQ(Establish(0, &h, &status), static_cast<HRESULT>(0x80004005));
    EXPECT_EQ(status, 33u);

    ASSERT_EQ(Establish(1, &h, &status), S_OK);
    EXPECT_EQ(status, 36u);
    ConnMgrReleaseConnection(h, 0);

    ASSERT_EQ(Establish(2, &h, &status), S_OK);
    EXPECT_EQ(status, 64u) << "waits before the delay has passed";
    int polls = 0;
    while (status == 64u && polls++ < 50) {
        Sleep(50);
        ASSERT_EQ(ConnMgrConnectionStatus(h, &status), S_OK);
    }
    EXPECT_EQ(status, 16u);
    // The cellular link came up for the request, and the window heard of it.
    std::vector<BYTE> buf;
    auto recs = Detailed(&buf);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].dwConnectionStatus, 16u);
    ConnMgrReleaseConnection(h, 0);
}

TEST_F(ConnMgrLayer, StatusChangesReachRegisteredWindowsOnly) {
    HWND a = reinterpret_cast<HWND>(0x1000), b = reinterpret_cast<HWND>(0x2000);
    ASSERT_EQ(ConnMgrRegisterForStatusChangeNotification(TRUE, a), S_OK);
    ASSERT_EQ(ConnMgrRegisterForStatusChangeNotification(TRUE, b), S_OK);
    ASSERT_EQ(ConnMgrRegisterForStatusChangeNotification(FALSE, b), S_OK);
    platform::ConnMgrSetConnectionStatus(0, 32);
    platform::ConnMgrSetConnectionStatus(0, 17);
    EXPECT_EQ(g_delivered, (std::vector<std::pair<HWND, DWORD>>{{a, 32}, {a, 17}}));
    ConnMgrRegisterForStatusChangeNotification(FALSE, a);
}

TEST_F(ConnMgrLayer, ByDefaultChangesArePostedAsTheRegisteredMessage) {
    struct Post {
        HWND w;
        UINT msg;
        WPARAM wp;
        LPARAM lp;
    };
    static std::vector<Post> posts;
    posts.clear();
    platform::ui::SetPostObserver([](HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        posts.push_back({w, msg, wp, lp});
        return true;
    });
    platform::ConnMgrSetDelivery(nullptr);
    HWND frame = reinterpret_cast<HWND>(0x3000);
    ASSERT_EQ(ConnMgrRegisterForStatusChangeNotification(TRUE, frame), S_OK);
    platform::ConnMgrSetConnectionStatus(0, 32);
    ConnMgrRegisterForStatusChangeNotification(FALSE, frame);
    platform::ui::SetPostObserver(nullptr);
    UINT id = RegisterWindowMessageW(L"CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG");
    ASSERT_NE(id, 0u);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].w, frame);
    EXPECT_EQ(posts[0].msg, id);
    EXPECT_EQ(posts[0].wp, 32u);
    EXPECT_EQ(posts[0].lp, 0);
}

TEST_F(ConnMgrLayer, FaultsAndBadConfigurations) {
    ASSERT_TRUE(platform::ConnMgrConfigure(L"dest=Internet;conn=Wi-Fi,type=2,subtype=2;query=fail;register=fail"));
    DWORD size = 0;
    EXPECT_EQ(ConnMgrQueryDetailedStatus(nullptr, &size), E_FAIL);
    EXPECT_NE(ConnMgrRegisterForStatusChangeNotification(TRUE, reinterpret_cast<HWND>(0x10)), S_OK);

    ASSERT_TRUE(platform::ConnMgrConfigure(L"dest=Internet;conn=Wi-Fi,type=2,subtype=2;query=fillfail"));
    ASSERT_EQ(ConnMgrQueryDetailedStatus(nullptr, &size), static_cast<HRESULT>(0x8007007A));
    std::vector<BYTE> buf(size);
    EXPECT_EQ(ConnMgrQueryDetailedStatus(reinterpret_cast<CONNMGR_CONNECTION_DETAILED_STATUS*>(buf.data()), &size),
              E_FAIL);

    for (const wchar_t* bad : {L"dest=", L"dest=Internet,connect=maybe", L"conn=x,type=two", L"nonsense",
                               L"dest=Internet,colour=red", L"dest=Internet,connect=fail,hr=0"})
        EXPECT_FALSE(platform::ConnMgrConfigure(bad)) << bad;
    EXPECT_EQ(Destinations(), std::vector<std::wstring>{L"Internet"}) << "a bad text keeps what was there";

    ASSERT_TRUE(platform::ConnMgrConfigure(L"offline"));
    HANDLE h = nullptr;
    DWORD status = 0;
    ASSERT_EQ(Establish(0, &h, &status), S_OK);
    EXPECT_EQ(status, 36u);
    ConnMgrReleaseConnection(h, 0);
    std::vector<BYTE> st;
    auto recs = Detailed(&st);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].dwConnectionStatus, 32u);
}

}  // namespace
