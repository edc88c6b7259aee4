// The picture cache: its bound and order of eviction, its files, and thumbnails fetched
// from the sample service.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "clientenv.h"
#include "download.h"
#include "entryGlobals.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "raw_server.h"

namespace {

using nettest::ClientEnv;

std::string Vid(int i) {
    char vid[32];
    std::snprintf(vid, sizeof vid, "lv%08x", 0x3f2a0000u + static_cast<unsigned>(i) * 17u);
    return vid;
}
std::wstring WVid(int i) { return platform::Utf8ToWide(Vid(i)); }

bool Alive(HBITMAP b) { return GetObjectType(b) == OBJ_BITMAP; }

HBITMAP NewBitmap(int w = 2, int h = 2) { return CreateBitmap(w, h, 1, 32, nullptr); }

struct PictureTest : ::testing::Test {
    ClientEnv& env = ClientEnv::Get();
    HBITMAP emptyPic = nullptr, picBk = nullptr;

    void SetUp() override {
        env.Begin();
        std::filesystem::create_directories(env.dir().path() + "/Image");
        Clear();
        emptyPic = NewBitmap();
        picBk = NewBitmap();
        SetPictureStock(&g_downloader, emptyPic, picBk);
    }
    void TearDown() override {
        Clear();
        SetPictureStock(&g_downloader, nullptr, nullptr);
        DeleteObject(emptyPic);
        DeleteObject(picBk);
        env.End();
    }
    static void Clear() {
        EnterCriticalSection(&g_downloader.csPicture);
        for (auto& [vid, entry] : g_downloader.pictures) DeleteObject(entry.bitmap);
        for (HBITMAP b : g_downloader.retired) DeleteObject(b);
        g_downloader.pictures.clear();
        g_downloader.pictureOrder.clear();
        g_downloader.holds.clear();
        g_downloader.retired.clear();
        LeaveCriticalSection(&g_downloader.csPicture);
    }
    static size_t Cached() {
        EnterCriticalSection(&g_downloader.csPicture);
        size_t n = g_downloader.pictures.size();
        size_t order = g_downloader.pictureOrder.size();
        LeaveCriticalSection(&g_downloader.csPicture);
        EXPECT_EQ(order, n) << "one place in the order of eviction per cached picture";
        return n;
    }
    std::string ImageFile(const std::string& vid) { return "Image/" + vid + ".jpg"; }
    void WriteImage(const std::string& vid, const std::string& bytes = "jpeg") {
        env.dir().Write(ImageFile(vid), bytes);
    }
    // The names of the files in the Image folder.
    std::vector<std::string> ImageFolder() {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(env.dir().path() + "/Image"))
            names.push_back(e.path().filename().string());
        return names;
    }
    // Fills the cache with pictures 0..n-1, each with a file; returns their bitmaps.
    std::vector<HBITMAP> Fill(int n, int keepFirst = 0) {
        std::vector<HBITMAP> bitmaps;
        for (int i = 0; i < n; ++i) {
            WriteImage(Vid(i));
            bitmaps.push_back(NewBitmap());
            AddPicture(&g_downloader, bitmaps.back(), WVid(i).c_str(), i < keepFirst ? 1 : 0);
        }
        return bitmaps;
    }
};

TEST_F(PictureTest, UnknownVidGivesTheBackgroundPicture) {
    EXPECT_EQ(GetPicture(&g_downloader, L"nothing"), picBk);
    EXPECT_EQ(GetPicture(&g_downloader, nullptr), picBk);
    EXPECT_NE(GetPicture(&g_downloader, L"nothing"), nullptr);
}

TEST_F(PictureTest, FiveHundredStayAndTheFiveHundredFirstEvictsExactlyTheOldest) {
    struct Case {
        int keepFile;
        bool fileStays;
    } cases[] = {{0, false}, {1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keepFile);
        Clear();
        std::vector<HBITMAP> b = Fill(PICTURE_CACHE_LIMIT, c.keepFile);
        EXPECT_EQ(Cached(), 500u);
        for (int i = 0; i < 500; ++i) ASSERT_EQ(GetPicture(&g_downloader, WVid(i).c_str()), b[i]) << i;

        HBITMAP newest = NewBitmap();
        WriteImage(Vid(500));
        AddPicture(&g_downloader, newest, WVid(500).c_str(), 0);
        EXPECT_EQ(Cached(), 500u);
        EXPECT_EQ(GetPicture(&g_downloader, WVid(0).c_str()), picBk);
        EXPECT_FALSE(Alive(b[0])) << "the evicted bitmap is deleted";
        EXPECT_EQ(env.dir().Exists(ImageFile(Vid(0))), c.fileStays);
        for (int i = 1; i < 500; ++i) {
            ASSERT_EQ(GetPicture(&g_downloader, WVid(i).c_str()), b[i]) << i;
            ASSERT_TRUE(Alive(b[i]));
            ASSERT_TRUE(env.dir().Exists(ImageFile(Vid(i))));
        }
        EXPECT_EQ(GetPicture(&g_downloader, WVid(500).c_str()), newest);

        // Each further picture evicts the next oldest, one at a time.
        AddPicture(&g_downloader, NewBitmap(), WVid(501).c_str(), 0);
        EXPECT_EQ(Cached(), 500u);
        EXPECT_EQ(GetPicture(&g_downloader, WVid(1).c_str()), picBk);
        EXPECT_FALSE(Alive(b[1]));
        EXPECT_EQ(GetPicture(&g_downloader, WVid(2).c_str()), b[2]);
    }
}

TEST_F(PictureTest, ReAddingAVidReplacesItsBitmapAndMakesItTheNewest) {
    std::vector<HBITMAP> b = Fill(500);
    HBITMAP again = NewBitmap();
    AddPicture(&g_downloader, again, WVid(0).c_str(), 0);
    EXPECT_EQ(Cached(), 500u);
    EXPECT_EQ(GetPicture(&g_downloader, WVid(0).c_str()), again);
    EXPECT_FALSE(Alive(b[0])) << "the replaced bitmap is not leaked";

    // The same bitmap added again stays.
    AddPicture(&g_downloader, again, WVid(0).c_str(), 0);
    EXPECT_TRUE(Alive(again));
    EXPECT_EQ(Cached(), 500u);

    // Vid 0 is now the newest: the next two pictures evict 1 and 2.
    AddPicture(&g_downloader, NewBitmap(), WVid(500).c_str(), 0);
    AddPicture(&g_downloader, NewBitmap(), WVid(501).c_str(), 0);
    EXPECT_EQ(Cached(), 500u);
    EXPECT_EQ(GetPicture(&g_downloader, WVid(0).c_str()), again);
    EXPECT_EQ(GetPicture(&g_downloader, WVid(1).c_str()), picBk);
    EXPECT_EQ(GetPicture(&g_downloader, WVid(2).c_str()), picBk);
    EXPECT_EQ(GetPicture(&g_downloader, WVid(3).c_str()), b[3]);
    EXPECT_TRUE(env.dir().Exists(ImageFile(Vid(0))));
    EXPECT_FALSE(env.dir().Exists(ImageFile(Vid(1))));
}

TEST_F(PictureTest, AHeldBitmapOutlivesItsEvictionUntilReleased) {
    std::vector<HBITMAP> b = Fill(500);
    HBITMAP shown = HoldPicture(&g_downloader, WVid(0).c_str());
    ASSERT_EQ(shown, b[0]);
    HBITMAP twice = HoldPicture(&g_downloader, WVid(0).c_str());
    ASSERT_EQ(twice, b[0]);
    EXPECT_EQ(HoldPicture(&g_downloader, L"nothing"), picBk);
    ReleasePicture(&g_downloader, picBk);

    AddPicture(&g_downloader, NewBitmap(), WVid(500).c_str(), 0);
    EXPECT_EQ(GetPicture(&g_downloader, WVid(0).c_str()), picBk) << "evicted from the cache";
    EXPECT_TRUE(Alive(b[0])) << "but still drawn";
    ReleasePicture(&g_downloader, b[0]);
    EXPECT_TRUE(Alive(b[0])) << "held twice";
    ReleasePicture(&g_downloader, b[0]);
    EXPECT_FALSE(Alive(b[0]));

    // A held bitmap replaced by a re-added picture goes at its release too.
    HBITMAP held = HoldPicture(&g_downloader, WVid(5).c_str());
    AddPicture(&g_downloader, NewBitmap(), WVid(5).c_str(), 0);
    EXPECT_TRUE(Alive(held));
    ReleasePicture(&g_downloader, held);
    EXPECT_FALSE(Alive(held));

    // A bitmap selected into a DC at eviction goes once it is free.
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, b[1]);
    AddPicture(&g_downloader, NewBitmap(), WVid(501).c_str(), 0);
    EXPECT_TRUE(Alive(b[1]));
    SelectObject(dc, old);
    DeleteDC(dc);
    AddPicture(&g_downloader, NewBitmap(), WVid(502).c_str(), 0);
    EXPECT_FALSE(Alive(b[1]));
}

TEST_F(PictureTest, FileNamesFromTheNetworkStayInsideTheImageFolder) {
    const std::string outside = env.dir().path() + "/evil_x.jpg";
    std::FILE* f = std::fopen(outside.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("keep", f);
    std::fclose(f);

    CStringW path;
    ASSERT_EQ(GetPicturePath(L"..\\evil_x", path), 0);
    EXPECT_EQ(path, CStringW(env.dir().wpath() + L"\\Image\\%2E%2E%5Cevil_x.jpg"));
    ASSERT_EQ(GetPicturePath(L"../evil_x", path), 0);
    EXPECT_EQ(path, CStringW(env.dir().wpath() + L"\\Image\\%2E%2E%2Fevil_x.jpg"));
    EXPECT_EQ(GetPicturePath(std::wstring(600, L'a').c_str(), path), -1) << "a cut name could be another file";

    // Evicting such a vid deletes its file inside the folder, never the one outside.
    WriteImage("%2E%2E%5Cevil_x");
    AddPicture(&g_downloader, NewBitmap(), L"..\\evil_x", 0);
    for (int i = 0; i < 500; ++i) AddPicture(&g_downloader, NewBitmap(), WVid(i).c_str(), 1);
    EXPECT_EQ(GetPicture(&g_downloader, L"..\\evil_x"), picBk);
    EXPECT_FALSE(env.dir().Exists(ImageFile("%2E%2E%5Cevil_x")));
    EXPECT_TRUE(std::filesystem::exists(outside));
    std::filesystem::remove(outside);
}

// Two ids a name-mangling mapping folds together: evicting one leaves the other's file.
TEST_F(PictureTest, EvictingAPictureLeavesAnotherIdsFile) {
    struct Pair {
        const wchar_t *evicted, *kept;
    } pairs[] = {{L"a/b", L"a_b"}, {L"a..b", L"a__b"}, {L"", L"_"}};
    for (const Pair& p : pairs) {
        SCOPED_TRACE(platform::WideToUtf8(p.evicted));
        Clear();
        std::filesystem::remove_all(env.dir().path() + "/Image");
        std::filesystem::create_directories(env.dir().path() + "/Image");
        CStringW evictedPath, keptPath;
        ASSERT_EQ(GetPicturePath(p.evicted, evictedPath), 0);
        ASSERT_EQ(GetPicturePath(p.kept, keptPath), 0);
        ASSERT_NE(evictedPath, keptPath);
        for (const CStringW* path : {&evictedPath, &keptPath}) {
            std::FILE* file = _wfopen(*path, L"wb");
            ASSERT_NE(file, nullptr);
            std::fputs("jpeg", file);
            std::fclose(file);
        }
        AddPicture(&g_downloader, NewBitmap(), p.evicted, 0);
        AddPicture(&g_downloader, NewBitmap(), p.kept, 1);
        for (int i = 0; i < 499; ++i) AddPicture(&g_downloader, NewBitmap(), WVid(i).c_str(), 1);
        EXPECT_EQ(GetPicture(&g_downloader, p.evicted), picBk);
        EXPECT_NE(GetPicture(&g_downloader, p.kept), picBk);
        EXPECT_FALSE(std::filesystem::exists(platform::ToNativePath(evictedPath)));
        EXPECT_TRUE(std::filesystem::exists(platform::ToNativePath(keptPath))) << "the other id's file stays";
    }
}

TEST_F(PictureTest, OnlineFetchStoresTheServedPictureOnceAndCachesIt) {
    const std::string vid = Vid(3);
    const std::wstring url = env.WUrl("/img/" + vid + ".jpg");
    HBITMAP out = nullptr;
    ASSERT_EQ(DownloadPicture(&g_downloader, platform::Utf8ToWide(vid).c_str(), url.c_str(), 1, 0, &out), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(out, emptyPic);
    EXPECT_EQ(GetPicture(&g_downloader, platform::Utf8ToWide(vid).c_str()), out);
    BITMAP bm{};
    ASSERT_NE(GetObjectW(out, sizeof bm, &bm), 0);
    EXPECT_EQ(bm.bmWidth, 120);
    EXPECT_EQ(bm.bmHeight, 90);

    HBITMAP again = nullptr;
    ASSERT_EQ(DownloadPicture(&g_downloader, platform::Utf8ToWide(vid).c_str(), url.c_str(), 1, 0, &again), 0);
    EXPECT_EQ(again, out);
    EXPECT_EQ(env.RequestsWith("/img/").size(), 1u) << "a cached picture is not fetched again";
    EXPECT_EQ(ImageFolder(), std::vector<std::string>{vid + ".jpg"}) << "no temporary file stays";
    EXPECT_EQ(env.dir().Read(ImageFile(vid)), env.service().Get("/img/" + vid + ".jpg"));
}

TEST_F(PictureTest, AFailedOrCutShortDownloadLeavesNoFileAndCachesNothing) {
    struct Case {
        const char* fault;
        const char* logged;
    } cases[] = {
        {"status:404", "HTTP error answer : status=404"},  // a failed download, tried again once
        {"status:500", "HTTP error answer : status=500"},
        {"status:302", "HTTP error answer : status=302"},  // a redirection without a Location
        {"drop", "DownloadEx failed"},                     // half the body, then the connection closes
        {"status:204", "SHLoadImageFile failed : path="},   // no body at all: not a picture
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string vid = Vid(10 + n++);
        const std::wstring wvid = platform::Utf8ToWide(vid);
        const int before = env.LogCount(c.logged);
        env.service().QueueFault(c.fault, 2, "/img/" + vid);
        HBITMAP out = nullptr;
        ASSERT_EQ(DownloadPicture(&g_downloader, wvid.c_str(), env.WUrl("/img/" + vid + ".jpg").c_str(), 1, 0, &out),
                  0);
        EXPECT_EQ(out, emptyPic);
        EXPECT_EQ(GetPicture(&g_downloader, wvid.c_str()), picBk) << "tried again by the next load";
        EXPECT_TRUE(ImageFolder().empty());
        EXPECT_GT(env.LogCount(c.logged), before);
        if (std::string(c.logged).rfind("SHLoadImageFile", 0) == 0) {
            CStringW own;
            ASSERT_EQ(GetPicturePath(wvid.c_str(), own), 0);
            EXPECT_EQ(env.LogCount(std::string(c.logged) + platform::WideToUtf8(own.str())), 1)
                << "the line names the picture's own file";
        }
        // Offline, nothing half-written is found later.
        ASSERT_EQ(DownloadPicture(&g_downloader, wvid.c_str(), L"", 0, 0, &out), 0);
        EXPECT_EQ(out, emptyPic);
    }
    EXPECT_TRUE(env.Boxes().empty()) << "thumbnails never show a message box";
}

// A server that sends no length and closes early: the body looks whole to HTTP, but the
// picture does not decode whole, so it is a failed download as well.
TEST_F(PictureTest, APictureCutShortWithoutALengthIsNotKept) {
    const std::string vid = Vid(40);
    const std::wstring wvid = platform::Utf8ToWide(vid);
    const std::string jpeg = env.service().Get("/img/" + vid + ".jpg");
    ASSERT_GT(jpeg.size(), 100u);
    ASSERT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9") << "ends with its end-of-image marker";
    struct Case {
        const char* name;
        size_t sent;
        bool kept;
    } cases[] = {
        {"whole", jpeg.size(), true},
        {"half", jpeg.size() / 2, false},
        {"all but the end marker", jpeg.size() - 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Clear();
        std::filesystem::remove_all(env.dir().path() + "/Image");
        std::filesystem::create_directories(env.dir().path() + "/Image");
        testing_support::RawServer server(
            [&](int fd, const std::string&, int) {
                testing_support::RawServer::SendAll(
                    fd, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n" +
                            jpeg.substr(0, c.sent));
            },
            2);
        const int failures = env.LogCount("SHLoadImageFile failed : path=");
        HBITMAP out = nullptr;
        ASSERT_EQ(DownloadPicture(&g_downloader, wvid.c_str(),
                                  platform::Utf8ToWide(server.url("/img/" + vid + ".jpg")).c_str(), 1, 0, &out),
                  0);
        if (c.kept) {
            EXPECT_NE(out, emptyPic);
            EXPECT_EQ(env.dir().Read(ImageFile(vid)), jpeg);
            continue;
        }
        EXPECT_EQ(out, emptyPic);
        EXPECT_EQ(GetPicture(&g_downloader, wvid.c_str()), picBk);
        EXPECT_TRUE(ImageFolder().empty()) << "the cut picture was kept";
        EXPECT_EQ(env.LogCount("SHLoadImageFile failed : path="), failures + 1);
        // Nor is anything found by the next offline start.
        ASSERT_EQ(DownloadPicture(&g_downloader, wvid.c_str(), L"", 0, 0, &out), 0);
        EXPECT_EQ(out, emptyPic);
    }
}

TEST_F(PictureTest, AFailedDownloadKeepsAnEarlierGoodFile) {
    const std::string vid = Vid(20);
    const std::string good = env.service().Get("/img/" + vid + ".jpg");
    WriteImage(vid, good);
    env.service().QueueFault("status:503", 2, "/img/" + vid);
    HBITMAP out = nullptr;
    DownloadPicture(&g_downloader, platform::Utf8ToWide(vid).c_str(), env.WUrl("/img/" + vid + ".jpg").c_str(), 1, 0,
                    &out);
    EXPECT_EQ(out, emptyPic);
    EXPECT_EQ(env.dir().Read(ImageFile(vid)), good);
    EXPECT_EQ(ImageFolder().size(), 1u);
}

TEST_F(PictureTest, OfflineReadsOnlyTheFile) {
    const std::string vid = Vid(30), broken = Vid(31), missing = Vid(32);
    WriteImage(vid, env.service().Get("/img/" + vid + ".jpg"));
    WriteImage(broken, "<html><body>404</body></html>");
    env.Reset();
    const int loadFailures = env.LogCount("SHLoadImageFile failed");

    HBITMAP out = nullptr;
    ASSERT_EQ(DownloadPicture(&g_downloader, platform::Utf8ToWide(vid).c_str(),
                              env.WUrl("/img/" + vid + ".jpg").c_str(), 0, 1, &out),
              0);
    EXPECT_NE(out, emptyPic);
    EXPECT_EQ(GetPicture(&g_downloader, platform::Utf8ToWide(vid).c_str()), out);
    for (const std::string& v : {broken, missing}) {
        ASSERT_EQ(DownloadPicture(&g_downloader, platform::Utf8ToWide(v).c_str(), env.WUrl("/img/" + v + ".jpg").c_str(),
                                  0, 1, &out),
                  0);
        EXPECT_EQ(out, emptyPic) << v;
        EXPECT_EQ(GetPicture(&g_downloader, platform::Utf8ToWide(v).c_str()), picBk) << v;
    }
    EXPECT_TRUE(env.RequestsWith("/img/").empty());
    EXPECT_EQ(env.LogCount("SHLoadImageFile failed"), loadFailures) << "offline failures are silent";
}

}  // namespace
