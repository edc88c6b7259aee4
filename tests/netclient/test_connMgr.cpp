// The program's Connection Manager client against the simulated Connection Manager.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "connMgr.h"
#include "helpers.h"
#include "platform/connmgr.h"
#include "platform/winuser.h"

namespace {

// The client's waits, each with the number of requests made before it, taken instead of
// waiting.
std::vector<std::pair<DWORD, int>> g_waits;
void RecordWait(DWORD ms) { g_waits.emplace_back(ms, platform::ConnMgrGetCounts().establishes); }

struct ConnMgrClient : ::testing::Test {
    nettest::TempDir dir;
    std::string log = nettest::StartLog(dir);
    HWND frame = reinterpret_cast<HWND>(0x4000);

    void Configure(const wchar_t* text) {
        ASSERT_TRUE(platform::ConnMgrConfigure(text));
        platform::ConnMgrResetCounts();
    }
    void TearDown() override {
        platform::ConnMgrConfigure(L"");
        SetConnMgrSleep(nullptr);
    }
    int InLog(const std::string& text) { return nettest::CountInLog(log, text); }
};

TEST_F(ConnMgrClient, InitConnectionReadsTheDetailedStatusAndRegisters) {
    Configure(L"");
    ConnMgr cm;
    ASSERT_EQ(InitConnection(&cm, frame), 0);
    EXPECT_EQ(cm.connected, 1);
    EXPECT_EQ(cm.connType, 2u);
    EXPECT_EQ(cm.connSubType, 2u);
    EXPECT_EQ(cm.statusMsg, RegisterWindowMessageW(L"CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG"));
    EXPECT_NE(cm.statusMsg, 0u);
    EXPECT_EQ(InLog("NIC: WIFI"), 1);
    ConnMgrRegisterForStatusChangeNotification(FALSE, frame);
}

TEST_F(ConnMgrClient, SubtypeTextsOfTheConnectedRecord) {
    struct Case {
        const wchar_t* config;
        DWORD type, subtype;
        const char* text;  // nullptr: nothing logged
    } cases[] = {
        {L"dest=Internet;conn=GPRS,type=1,subtype=2,status=16", 1, 2, "CELLULAR: GPRS"},
        {L"dest=Internet;conn=HSDPA,type=1,subtype=10,status=16", 1, 10, "CELLULAR: HSDPA"},
        {L"dest=Internet;conn=x,type=1,subtype=11,status=16", 1, 11, "CELLULAR: error: 11"},
        {L"dest=Internet;conn=Eth,type=2,subtype=1,status=16", 2, 1, "NIC: ETHERNET"},
        {L"dest=Internet;conn=x,type=2,subtype=3,status=16", 2, 3, "NIC: error: 3"},
        {L"dest=Internet;conn=AS,type=7,subtype=1,status=16", 7, 1, "PC: ACTIVESYNC"},
        {L"dest=Internet;conn=ML,type=7,subtype=3,status=16", 7, 3, "PC: MODEM_LINK"},
        {L"dest=Internet;conn=x,type=7,subtype=4,status=16", 7, 4, "PC: error: 4"},
        {L"dest=Internet;conn=VPN,type=5,subtype=0,status=16", 5, 0, nullptr},
        // The first connected record counts, not the first record.
        {L"dest=Internet;conn=GPRS,type=1,subtype=2,status=32;conn=W,type=2,subtype=2,status=16", 2, 2, "NIC: WIFI"},
    };
    for (const Case& c : cases) {
        Configure(c.config);
        ConnMgr cm;
        int connected = -1;
        DWORD type = 99, sub = 99;
        ASSERT_EQ(QueryConnectionStatus(&cm, &connected, &type, &sub), 0);
        EXPECT_EQ(connected, 1);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(sub, c.subtype);
        if (c.text) {
            EXPECT_EQ(InLog(std::string("): ") + c.text), 1) << c.text;
        }
    }
    EXPECT_EQ(InLog("VPN"), 0);

    Configure(L"offline");
    ConnMgr cm;
    int connected = -1;
    DWORD type = 99, sub = 99;
    ASSERT_EQ(QueryConnectionStatus(&cm, &connected, &type, &sub), 0);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(sub, 0u);
}

TEST_F(ConnMgrClient, DetailedStatusFailures) {
    Configure(L"dest=Internet;conn=W,type=2,subtype=2;query=fail");
    ConnMgr cm;
    int connected = -1;
    DWORD type = 9, sub = 9;
    EXPECT_EQ(QueryConnectionStatus(&cm, &connected, &type, &sub), -1);
    EXPECT_EQ(InLog("ConnMgrQueryDetailedStatus error, hr = 2147500037"), 1);
    EXPECT_EQ(InitConnection(&cm, frame), -1);
    EXPECT_EQ(InLog("QueryConnectionStatus failed"), 1);
    EXPECT_EQ(platform::ConnMgrGetCounts().registrations, 0) << "no notification is registered then";

    Configure(L"dest=Internet;conn=W,type=2,subtype=2;query=fillfail");
    EXPECT_EQ(QueryConnectionStatus(&cm, &connected, &type, &sub), 0);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(InLog("ConnMgrQueryDetailedStatus failed : hr = 2147500037"), 1);

    Configure(L"dest=Internet;conn=W,type=2,subtype=2;register=fail");
    ConnMgr other;
    EXPECT_EQ(InitConnection(&other, frame), -1);
    EXPECT_EQ(other.statusMsg, 0u);
    EXPECT_EQ(InLog("ConnMgrRegisterForStatusChangeNotification failed, hr=2147500037"), 1);
    EXPECT_EQ(InLog("ConnectionRegisterStatusChangeNotification failed"), 1);
}

TEST_F(ConnMgrClient, StatusChangeMessages) {
    Configure(L"");
    ConnMgr cm;
    ASSERT_EQ(InitConnection(&cm, frame), 0);
    UINT msg = cm.statusMsg;
    EXPECT_EQ(HandleConnectionMsg(&cm, msg, 32), 0);
    EXPECT_EQ(GetConnectStatus(&cm), 0);
    EXPECT_EQ(HandleConnectionMsg(&cm, msg, 17), -1) << "suspended is not handled";
    EXPECT_EQ(GetConnectStatus(&cm), 0);
    EXPECT_EQ(HandleConnectionMsg(&cm, msg, 16), 0);
    EXPECT_EQ(GetConnectStatus(&cm), 1);
    EXPECT_EQ(HandleConnectionMsg(&cm, msg + 1, 32), -1) << "other messages pass through";
    EXPECT_EQ(HandleConnectionMsg(&cm, 0x0111, 32), -1);
    EXPECT_EQ(GetConnectStatus(&cm), 1);
    ConnMgrRegisterForStatusChangeNotification(FALSE, frame);
}

TEST_F(ConnMgrClient, ConnectForceAndKeepsTheConnection) {
    Configure(L"");
    {
        ConnMgr cm;
        cm.connected = 1;
        EXPECT_EQ(Connect(&cm, 0), 0);
        auto counts = platform::ConnMgrGetCounts();
        EXPECT_EQ(counts.enumerations + counts.establishes + counts.detailedQueries, 0)
            << "connected and not forced: no Connection Manager call";

        EXPECT_EQ(Connect(&cm, 1), 0);
        EXPECT_EQ(platform::ConnMgrGetCounts().establishes, 1);
        EXPECT_NE(cm.hConnection, nullptr);
        EXPECT_EQ(cm.connected, 1);
        EXPECT_EQ(cm.connType, 2u);
        EXPECT_EQ(Connect(&cm, 1), 0);
        EXPECT_EQ(platform::ConnMgrGetCounts().establishes, 2);
        EXPECT_EQ(platform::ConnMgrGetCounts().held, 1) << "the earlier connection was released first";
        EXPECT_EQ(InLog("found : Internet"), 2);
        EXPECT_EQ(InLog("The connection is established."), 2);
    }
    EXPECT_EQ(platform::ConnMgrGetCounts().held, 0) << "the destructor releases the connection";
}

TEST_F(ConnMgrClient, DestinationNameMatchingAndRetryOrder) {
    // Neither name matches "internet" (case matters) nor the blank-less words.
    Configure(L"dest=my internet;dest=Interne t");
    ConnMgr cm;
    EXPECT_EQ(EstablishConnection(&cm), -1);
    EXPECT_EQ(platform::ConnMgrGetCounts().establishes, 0) << "no matching destination: no request";

    // A destination matching two names is tried twice (k = 4 and 5); a failing try is
    // followed by the next name, then the next destination.
    Configure(L"dest=GPRS cmnet/cmwap,connect=status,status=37;dest=Work;dest=The Internet Link,delay=600;"
              L"conn=GPRS,type=1,subtype=7,status=32");
    EXPECT_EQ(EstablishConnection(&cm), 0);
    EXPECT_EQ(platform::ConnMgrGetCounts().establishes, 3);
    EXPECT_EQ(InLog("found : GPRS cmnet/cmwap"), 2);
    EXPECT_EQ(InLog("Connect Failed, conDestInfo.szDescription=GPRS cmnet/cmwap, dwStatus=37"), 2);
    EXPECT_EQ(InLog("A path to the destination exists but is not presently available"), 2);
    EXPECT_EQ(InLog("found : Work"), 0);
    EXPECT_EQ(InLog("found : The Internet Link"), 1);
    EXPECT_EQ(InLog("The device is attempting to connect."), 0) << "waiting is polled, not logged";
    EXPECT_EQ(cm.connected, 1) << "the request brought the cellular link up";
    EXPECT_EQ(cm.connType, 1u);
    EXPECT_EQ(cm.connSubType, 7u);
    EXPECT_EQ(InLog("CELLULAR: UMTS"), 1);
    EXPECT_EQ(platform::ConnMgrGetCounts().held, 1);
}

TEST_F(ConnMgrClient, FailedRequestWaitsFiveSecondsAndTriesTheNextName) {
    Configure(L"dest=中国移动 Internet,connect=fail,hr=0x80004005,status=33");
    g_waits.clear();
    SetConnMgrSleep(RecordWait);
    ConnMgr cm;
    EXPECT_EQ(Connect(&cm, 1), -1);
    EXPECT_EQ(platform::ConnMgrGetCounts().establishes, 2) << "matched by Internet and by 中国移动";
    // 5 s after each failed request, before the next name is tried.
    EXPECT_EQ(g_waits, (std::vector<std::pair<DWORD, int>>{{5000, 1}, {5000, 2}}));
    EXPECT_EQ(InLog("ConnMgrEstablishConnectionSync Failed, hr=2147500037, conDestInfo.szDescription=中国移动 "
                    "Internet, dwStatus=33, Sleep 5 Seconds"),
              2);
    EXPECT_EQ(InLog("The connection has failed and cannot be reestablished."), 2);
    EXPECT_EQ(cm.hConnection, nullptr);
    EXPECT_EQ(cm.connected, 0);
}

// A request that is taken but stays "attempting to connect" is polled 120 times, 500 ms
// apart (a minute), then given up with its time-out line; the connection is let go.
TEST_F(ConnMgrClient, ARequestStillWaitingAfter120PollsTimesOut) {
    Configure(L"dest=Internet,connect=wait");
    g_waits.clear();
    SetConnMgrSleep(RecordWait);
    ConnMgr cm;
    EXPECT_EQ(Connect(&cm, 1), -1);
    auto counts = platform::ConnMgrGetCounts();
    EXPECT_EQ(counts.establishes, 1);
    EXPECT_EQ(counts.statusQueries, 120) << "the status is read again after each wait";
    EXPECT_EQ(g_waits, (std::vector<std::pair<DWORD, int>>(120, {500, 1})));
    EXPECT_EQ(InLog("ConnMgrEstablishConnectionSync Timeout, conDestInfo.szDescription=Internet"), 1);
    EXPECT_EQ(InLog("WARNING"), 1) << "the time-out is the one warning";
    EXPECT_EQ(InLog("NOTICE"), 2);  // "found : Internet", then the last status
    EXPECT_EQ(InLog("The device is attempting to connect."), 1);
    EXPECT_EQ(InLog("Connect Failed"), 0);
    EXPECT_EQ(counts.held, 0);
    EXPECT_EQ(cm.hConnection, nullptr);
    EXPECT_EQ(cm.connected, 0);
}

}  // namespace
