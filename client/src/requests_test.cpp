#include "frameyard/client/requests.h"

#include <gtest/gtest.h>

#include <limits>

#include "frameyard/client/error.h"
#include "frameyard/client/json.h"

#include "byte_test_support.h"

namespace frameyard {
namespace {

TEST(ReplyCheck, ClassifiesReplies) {
    EXPECT_TRUE(checkReply("\"ok\"").ok);
    ReplyCheck empty = checkReply("");
    EXPECT_TRUE(empty.isError);
    EXPECT_EQ(empty.failure, "No response");
    for (const char* reply : {R"(["error","unsupported"])", R"(["error","bad_command"])", R"(["error","unknown_command"])"}) {
        ReplyCheck check = checkReply(reply);
        EXPECT_TRUE(check.isError) << reply;
        EXPECT_EQ(check.failure, "Not supported.") << reply;
    }
    ReplyCheck own = checkReply(R"(["error","Duplicate camera 'left'"])");
    EXPECT_TRUE(own.isError);
    EXPECT_EQ(own.failure, "Duplicate camera 'left'");
    ReplyCheck result = checkReply(R"(["result",[1,2]])");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.isError);
    EXPECT_EQ(result.failure, "Unknown response");
    EXPECT_THROW(requireOk(R"(["error","no_wanted_cameras"])", "get"), Error);
    EXPECT_NO_THROW(requireOk("\"ok\"", "get"));
}

TEST(Requests, AreTheTextsTheServerExpects) {
    EXPECT_EQ(wantCamerasCommand({"right", "left"}), R"(["want_cameras",["right","left"]])");
    EXPECT_EQ(wantCamerasCommand({}), R"(["want_cameras",[]])");
    EXPECT_EQ(cameraMessage(2, addRectangularMaskCommand(1, 2, 3.5f, 4)),
              R"(["camera",2,["add_rectangular_mask",{"x1":1,"y1":2,"x2":3.5,"y2":4}]])");
    EXPECT_EQ(deleteRectangularMaskCommand(0, 0, 1, 1), R"(["delete_rectangular_mask",{"x1":0,"y1":0,"x2":1,"y2":1}])");
}

TEST(Requests, KeepEveryDigitOfAValue) {
    // The server's own number style would send 1.23457e+06 and change the value.
    std::optional<Json> request = parseJson(changeSettingCommand("exposure", 1234567));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->items[2].number, 1234567.0);
    // A display coordinate of a mask read back must come back to the same float.
    float x = 501.333344f;
    std::optional<Json> mask = parseJson(addRectangularMaskCommand(x, 72, x, 440));
    ASSERT_TRUE(mask);
    EXPECT_EQ(static_cast<float>(mask->items[1].find("x1")->number), x);
    // No request may carry a number JSON cannot spell.
    EXPECT_THROW(changeSettingCommand("gain", std::numeric_limits<double>::infinity()), Error);
    EXPECT_THROW(addRectangularMaskCommand(0, 0, std::numeric_limits<float>::quiet_NaN(), 1), Error);
}

TEST(AcquireRequestEncoding, ListsOfMoreThan65535FieldsTakeSeveralRuns) {
    AcquireRequest request;
    request.centroids = true;
    request.images = true;
    request.startFieldId = 7;
    request.fields = 70000;
    request.rate = 50;
    Bytes list = words({0, 65535, 0, 4465, 0xFFFF});
    EXPECT_EQ(encodeAcquireRequest(request), (Bytes{'a', '1'} + words({7}) + list + list + words({50})));
    request.images = false;
    request.fields = 0;
    EXPECT_EQ(encodeAcquireRequest(request), (Bytes{'a', '0'} + words({7, 0xFFFF, 50})));
    EXPECT_EQ(progressValue(5, 10), 0x7FFF);
}

TEST(MaskTableEncoding, IsTheServerLayout) {
    EXPECT_EQ(encodeMaskTable({}), (Bytes{0x00, 0x00}));
    EXPECT_EQ(encodeMaskTable({{}}), (Bytes{0x00, 0x01, '$'}));
    Bytes one = encodeMaskTable({{{1.0f, 2.0f, 0.5f}}});
    Bytes expected{0x00, 0x01, 'c', 0, 0, 0, 16, 0, 0, 0, 1,
                   0x3f, 0x80, 0, 0, 0x40, 0x00, 0, 0, 0x3f, 0x00, 0, 0, '$'};
    EXPECT_EQ(one, expected);
}

}  // namespace
}  // namespace frameyard
