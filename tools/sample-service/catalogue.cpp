#include "catalogue.h"

#include <cstdio>

const int kChannelIds[5] = {91, 92, 95, 98, 94};

const char* ChannelName(int cid) {
    switch (cid) {
        case 91: return "资讯";
        case 92: return "原创";
        case 95: return "音乐";
        case 98: return "体育";
        case 94: return "搞笑";
    }
    return "其他";
}

namespace {

const char* kSubjects[5][8] = {
    {"城市早高峰", "春季农产品", "新能源汽车", "地铁新线路", "高铁站", "科技展会", "天气预报", "老城区改造"},
    {"独立短片", "校园微电影", "手绘动画", "街头纪录", "家乡美食", "旅行日记", "定格动画", "毕业作品"},
    {"民谣现场", "钢琴独奏", "古筝名曲", "摇滚乐队", "童声合唱", "流行金曲", "二胡演奏", "电子音乐"},
    {"足球联赛", "篮球决赛", "乒乓球", "马拉松", "羽毛球", "游泳接力", "围棋对局", "自行车赛"},
    {"猫咪", "办公室", "相声片段", "小品", "宠物狗", "魔术失误", "方言配音", "街头采访"},
};
const char* kAngles[10] = {"精彩瞬间", "全程回顾", "幕后花絮", "第一视角", "现场直击",
                           "深度解读", "高清完整版", "搞笑合集", "最新消息", "独家专访"};
const char* kUsers[12] = {"小王看世界", "阿杰影像", "李老师", "胖达", "星空下的猫", "老张",
                          "陈小雨", "北方的狼", "快乐每一天", "赵大厨", "风之子", "林间小道"};
const char* kTags[5][4] = {
    {"新闻", "城市", "民生", "科技"},
    {"原创", "短片", "纪录", "动画"},
    {"音乐", "现场", "乐器", "演唱"},
    {"体育", "比赛", "冠军", "运动"},
    {"搞笑", "宠物", "生活", "幽默"},
};

void DateOf(int age, char* out, size_t n) {
    // The catalogue's "today" is 2010-05-24; ages go back across April and March.
    static const int daysIn[] = {31, 28, 31, 30, 31};
    int y = 2010, m = 5, d = 24 - age;
    while (d <= 0) {
        --m;
        d += daysIn[m - 1];
    }
    std::snprintf(out, n, "%04d-%02d-%02d %02d:%02d:00", y, m, d, 8 + age % 12, (age * 7) % 60);
}

}  // namespace

std::vector<Video> BuildCatalogue(int count) {
    std::vector<Video> out;
    for (int i = 0; i < count; ++i) {
        Video v;
        int ch = i % 5;
        v.cid = kChannelIds[ch];
        char vid[32];
        std::snprintf(vid, sizeof vid, "lv%08x", 0x3f2a0000u + static_cast<unsigned>(i) * 17u);
        v.vid = vid;
        const char* subject = kSubjects[ch][(i / 5) % 8];
        const char* angle = kAngles[(i * 3 + i / 40) % 10];
        v.title = std::string(subject) + angle;
        if (i % 40 == 7) v.title += " & 观众点评";  // must be escaped in the answer
        if (i / 40 > 0) v.title += " (" + std::to_string(i / 40 + 1) + ")";
        v.user = kUsers[(i * 7) % 12];
        v.desc = std::string("这是一段关于") + subject + "的视频，" + angle + "，欢迎观看和评论。";
        v.tags = std::string(kTags[ch][i % 4]) + " " + kTags[ch][(i + 1) % 4] + " " + subject;
        v.cats = ChannelName(v.cid);
        v.age = (i * 37) % 60;
        char date[32];
        DateOf(v.age, date, sizeof date);
        v.pubdate = date;
        v.pv = 100000u - static_cast<unsigned>((i * 7919) % 99000);
        v.comments = static_cast<unsigned>((i * 4973) % 5000) + 3;
        v.favs = static_cast<unsigned>((i * 2971) % 3000) + 1;
        v.up = v.favs / 2 + 7;
        v.down = static_cast<unsigned>(i % 37);
        v.recommended = i % 5 != 4 || i % 2 == 0;
        int nsegs = 1 + i % 3;
        for (int s = 0; s < nsegs; ++s) v.segs.push_back((i + s) % 3);
        out.push_back(std::move(v));
    }
    return out;
}
