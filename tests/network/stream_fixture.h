// Shared pieces of the network plug-in's tests: the registered classes, a stream object,
// a comment sink that records what it is given.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common.h"
#include "core/testing.h"
#include "http_stream.h"
#include "plugin/frame.h"

namespace testing_support {

struct Sink {
    Node node{};
    std::vector<std::wstring> texts;
    std::vector<int> sizes;
    int param = 0;
    Sink() { node.setParam = &Sink::Set; }
    static int Set(void* self, int id, const void* data, int size) {
        auto* s = static_cast<Sink*>(self);
        s->param = id;
        s->texts.emplace_back(static_cast<const tchar*>(data));
        s->sizes.push_back(size);
        return 0;
    }
};

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DLLRegister(CORE_INTERFACE_VERSION), 0);
        core::ClearShownErrors();
        core::SetSleepSkipped(true);
        core::ClearSleepLog();
        stream = static_cast<HttpStream*>(NodeCreate(HTTP_CLASS));
        ASSERT_NE(stream, nullptr);
    }
    void TearDown() override {
        NodeDelete(stream);
        core::SetSleepSkipped(false);
        core::SetTimeFreq(1000);
        DLLUnRegister();
    }
    int Open(const std::string& url) {
        tchar buf[512];
        std::wstring w(url.begin(), url.end());
        tcscpy_s(buf, 512, w.c_str());
        return stream->base.node.setParam(stream, HttpUrl, buf, sizeof(buf));
    }
    void SetSink(Sink& sink, int param = 77) {
        CommentSink cs{&sink, param};
        ASSERT_EQ(stream->base.node.setParam(stream, HttpCommentSink, &cs, sizeof(cs)), 0);
    }
    int Read(void* buf, int n) { return stream->base.readStream(stream, buf, n); }
    int Seek(int offset, int whence) { return stream->base.seekStream(stream, offset, whence); }
    int Length() {
        int v = 0;
        int r = stream->base.node.getParam(stream, HttpLength, &v, sizeof(v));
        return r == 0 ? v : r;
    }
    // Reads n bytes (or to the end) in `chunk`-byte reads; stops at the first failure.
    std::string ReadBytes(size_t n, int chunk = 4096) {
        std::string out;
        std::vector<char> buf(chunk);
        while (out.size() < n) {
            int want = static_cast<int>(std::min<size_t>(chunk, n - out.size()));
            int got = Read(buf.data(), want);
            if (got <= 0) break;
            out.append(buf.data(), got);
        }
        return out;
    }
    HttpStream* stream = nullptr;
};

}  // namespace testing_support
