// The built program run headless with a script against the sample service: searches and
// their history in the registry file, help and About with their back keys, and the detail
// page with its related videos. Coordinates are those of the 480x800 screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "helpers.h"
#include "programRun.h"

namespace {

namespace fs = std::filesystem;
using apptest::InstalledProgram;
using apptest::RequestsTo;
using apptest::Shot;
using nettest::SampleService;

const char kHistoryKey[] = "Software\\Lumeo\\History\\SearchWord";
const std::string kSearch = "/openapi-common/searchVideos?pid=4f7be1c09a2d6e53&keyword=";
const std::string kSearchTail = "&pg=1&pz=10&rt=1&f=8&seg=1&rp=1";

// On 480x800: the search box, its history rows, 清空, the help topics, the list rows.
const char kBox[] = "tap 191 220\n";
const char kClear[] = "tap 410 481\n";
const int kRowY[] = {341, 389, 437};
const int kTopicY[] = {197, 263, 329, 395, 461, 527, 593};
const int kListRowY[] = {198, 299, 400};
const int kRelatedY[] = {491, 530, 569, 608, 647};

// A search as a user makes it: the tab, the box (its text selected), the word, Enter.
std::string Search(const std::string& word) { return std::string("key ctrl+3\n") + kBox + "text " + word + "\nkey enter\nwait idle\n"; }

std::string Tap(int x, int y) { return "tap " + std::to_string(x) + " " + std::to_string(y) + "\n"; }

std::map<std::string, std::wstring> History(const std::initializer_list<std::wstring>& words) {
    std::map<std::string, std::wstring> out;
    int n = 0;
    for (const auto& w : words) out["SearchWord_" + std::to_string(n++)] = w;
    return out;
}

TEST(PagesRun, SearchesSendTheEncodedWordAndKeepTheLastThreeWordsNewestFirst) {
    SampleService service;
    InstalledProgram p(service);
    std::string script = "wait idle\n" + Search("猫咪") + Search("足球 比赛") + Search("a&b %#=1");
    int status = p.Run(script + "quit\n");
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    // Percent-encoded UTF-8, blanks as "+", and nothing that could start another parameter.
    std::vector<std::string> want = {kSearch + "%E7%8C%AB%E5%92%AA" + kSearchTail,
                                     kSearch + "%E8%B6%B3%E7%90%83+%E6%AF%94%E8%B5%9B" + kSearchTail,
                                     kSearch + "a%26b+%25%23%3D1" + kSearchTail};
    EXPECT_EQ(RequestsTo(service, "/openapi-common/searchVideos"), want);
    EXPECT_EQ(p.RegistryTexts(kHistoryKey), History({L"a&b %#=1", L"足球 比赛", L"猫咪"}));

    // Next start: the word at the end moves to the front; a new one pushes the oldest out.
    status = p.Run("wait idle\n" + Search("猫咪") + Search("新闻") + "quit\n");
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    EXPECT_EQ(p.RegistryTexts(kHistoryKey), History({L"新闻", L"猫咪", L"a&b %#=1"}));
    auto requests = RequestsTo(service, "/openapi-common/searchVideos");
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[4], kSearch + "%E6%96%B0%E9%97%BB" + kSearchTail);
}

TEST(PagesRun, AHistoryRowSearchesItsWordClearEmptiesItAndAnEmptyBoxSearchesNothing) {
    SampleService service;
    InstalledProgram p(service);
    int status = p.Run("wait idle\n" + Search("猫咪") + Search("音乐") + Search("体育") + "quit\n");
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    ASSERT_EQ(p.RegistryTexts(kHistoryKey), History({L"体育", L"音乐", L"猫咪"}));

    std::string shots = p.dir().path();
    std::string script = "wait idle\nkey ctrl+3\nscreenshot " + shots + "/history.png\n" +
                         Tap(82, kRowY[2]) + "wait idle\n" +  // 猫咪, the oldest
                         "key ctrl+3\n" + kClear + "screenshot " + shots + "/cleared.png\n" +
                         kBox + "key enter\nwait idle\nscreenshot " + shots + "/empty-enter.png\nquit\n";
    status = p.Run(script);
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    auto requests = RequestsTo(service, "/openapi-common/searchVideos");
    ASSERT_EQ(requests.size(), 4u);  // the tapped row's, and none for the empty box
    EXPECT_EQ(requests[3], kSearch + "%E7%8C%AB%E5%92%AA" + kSearchTail);
    EXPECT_TRUE(p.RegistryTexts(kHistoryKey).empty());

    // The rows were written before 清空 and are blank after it; the page stays after Enter.
    Shot history(shots + "/history.png"), cleared(shots + "/cleared.png"), empty(shots + "/empty-enter.png");
    ASSERT_TRUE(history.ok() && cleared.ok() && empty.ok());
    for (int y : kRowY) {
        EXPECT_GT(history.DarkIn(30, y - 20, 300, y + 20), 50) << y;
        EXPECT_EQ(cleared.DarkIn(30, y - 20, 300, y + 20), 0) << y;
    }
    EXPECT_EQ(empty.At(5, 650), 0x2C5B81);  // still the search page
}

TEST(PagesRun, ALongWordIsKeptWholeTheRequestCarriesWhatFitsAndAnUnencodableOneSendsNothing) {
    SampleService service;
    InstalledProgram p(service);
    std::string ascii(150, 'a');
    std::string chinese;
    for (int i = 0; i < 130; ++i) chinese += "猫";
    // The second search cannot be encoded: its load fails at once, with no "not connected" box.
    int status = p.Run("wait idle\n" + Search(ascii) + Search(chinese) + "quit\n");
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    auto requests = RequestsTo(service, "/openapi-common/searchVideos");
    ASSERT_EQ(requests.size(), 1u) << p.Log();
    EXPECT_EQ(requests[0], kSearch + std::string(127, 'a') + kSearchTail);
    std::wstring wideChinese(130, L'猫');
    auto history = p.RegistryTexts(kHistoryKey);
    EXPECT_EQ(history["SearchWord_0"], wideChinese);
    EXPECT_EQ(history["SearchWord_1"], std::wstring(150, L'a'));
    EXPECT_NE(p.Log().find("Utf8UrlEncode failed."), std::string::npos);
    // No reconnect for it (the start-up found the connection up and made none either).
    std::string log = p.Log();
    size_t connections = 0;
    for (size_t at = log.find("The connection is established."); at != std::string::npos;
         at = log.find("The connection is established.", at + 1))
        ++connections;
    EXPECT_EQ(connections, 0u) << log;
}

TEST(PagesRun, HelpAndAboutGoBackToTheTopicsAndThenToWhereTheyWereOpened) {
    SampleService service;
    InstalledProgram p(service);
    std::string d = p.dir().path();
    std::string script = "wait idle\nkey ctrl+3\nkey ctrl+6\nscreenshot " + d + "/topics.png\n" + Tap(240, kTopicY[3]) +
                         "screenshot " + d + "/text.png\nkey soft1\nscreenshot " + d + "/topics-again.png\n" +
                         "key soft1\nscreenshot " + d + "/search.png\nkey ctrl+5\nscreenshot " + d + "/about.png\n" +
                         "key soft1\nscreenshot " + d + "/search-again.png\nquit\n";
    int status = p.Run(script);
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    Shot topics(d + "/topics.png"), text(d + "/text.png"), again(d + "/topics-again.png"), search(d + "/search.png"),
        about(d + "/about.png"), back(d + "/search-again.png");
    ASSERT_TRUE(topics.ok() && text.ok() && again.ok() && search.ok() && about.ok() && back.ok());
    // Topic rows hold their titles; the text page has its text and a scroll bar at the right.
    for (int y : kTopicY) EXPECT_GT(topics.DarkIn(15, y - 15, 465, y + 15), 50) << y;
    EXPECT_EQ(topics.At(5, 650), 0xFFFFFF);
    EXPECT_EQ(topics.At(470, 400), 0xFFFFFF);
    EXPECT_GT(text.DarkIn(15, 290, 455, 450), 50);
    EXPECT_NE(text.At(470, 400), 0xFFFFFF);
    EXPECT_GT(again.DarkIn(15, kTopicY[0] - 15, 465, kTopicY[0] + 15), 50);
    EXPECT_EQ(search.At(5, 650), 0x2C5B81);
    EXPECT_EQ(about.At(5, 650), 0xFFFFFF);
    EXPECT_GT(about.DarkIn(15, 150, 465, 300), 50);
    EXPECT_EQ(back.At(5, 650), 0x2C5B81);
}

// The first video of the home list, as the service lists it.
std::string FirstHotVid(const SampleService& service) {
    std::string body = service.Get("/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=1&rt=1&f=8&seg=1&rp=1");
    std::smatch m;
    return std::regex_search(body, m, std::regex("<vid>([^<]*)</vid>")) ? m[1].str() : "";
}

TEST(PagesRun, TheDetailPageAsksForItsRelatedVideosOnceShowsThemAndARelatedRowBecomesThePage) {
    SampleService service;
    InstalledProgram p(service);
    std::string vid = FirstHotVid(service);
    ASSERT_FALSE(vid.empty());
    std::string d = p.dir().path();
    std::string script = "wait idle\n" + Tap(240, kListRowY[0]) + "wait idle\nscreenshot " + d + "/detail.png\n" +
                         "key soft1\n" + Tap(240, kListRowY[0]) + "wait idle\n" + Tap(70, kRelatedY[0]) +
                         "wait idle\nquit\n";
    int status = p.Run(script);
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    std::vector<std::string> asked = RequestsTo(service, "/openapi-common/relatedVideos");
    std::vector<std::string> pictures = RequestsTo(service, "/img/");
    std::string target = "/openapi-common/relatedVideos?pid=4f7be1c09a2d6e53&vid=" + vid + "&pz=5&rt=1&f=8&seg=1&rp=1";
    std::string answer = service.Get(target);
    std::smatch first;
    ASSERT_TRUE(std::regex_search(answer, first, std::regex("<vid>([^<]*)</vid>")));
    std::string next = first[1].str();
    // One request for the first video, kept in the cache; then one for the related video tapped.
    std::string nextTarget =
        "/openapi-common/relatedVideos?pid=4f7be1c09a2d6e53&vid=" + next + "&pz=5&rt=1&f=8&seg=1&rp=1";
    EXPECT_EQ(asked, (std::vector<std::string>{target, nextTarget}));
    EXPECT_EQ(p.dir().Read("Xml/RelVideo_" + vid + ".xml"), answer);
    EXPECT_EQ(p.dir().Read("Xml/RelVideo_" + next + ".xml"), service.Get(nextTarget));
    EXPECT_NE(p.Log().find("RelVideo XML : http://" + service.host() + target), std::string::npos);
    // The tapped video's picture was fetched for the page.
    EXPECT_EQ(std::count(pictures.begin(), pictures.end(), "/img/" + next + ".jpg"), 1);
    Shot detail(d + "/detail.png");
    ASSERT_TRUE(detail.ok());
    for (int y : kRelatedY) EXPECT_GT(detail.DarkIn(10, y - 10, 300, y + 10), 30) << y;
    EXPECT_EQ(detail.At(470, 300), 0xEFEFEF);
}

}  // namespace
