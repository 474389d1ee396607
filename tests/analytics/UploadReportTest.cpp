// The local collection server's printout of an upload.
#include <gtest/gtest.h>

#include "UploadReport.h"

TEST(UploadReport, PrintsTheDeviceEachSessionAndEachSubSession) {
  const std::string document =
      R"({"iphone_id":"ID","device_model":"x86_64","device_os":"12","application_code":"abc","app_version":"0.1.0",)"
      R"("beacons":[{ "id" : "3", "time_started" : "1700000000", "time_stopped" : "1700000600", "latitude" : "52.5",)"
      R"( "longitude" : "13.25", "subbeacons" : [{ "id" : "1", "beacon_id" : "3", "name" : "level 1",)"
      R"( "time_started" : "1700000010", "time_stopped" : "", "is_session" : "1"}]},)"
      R"({ "id" : "4", "time_started" : "1700001000", "time_stopped" : "", "latitude" : "", "longitude" : "",)"
      R"( "subbeacons" : []}]})";
  std::string error;
  const auto report = describeUpload(document, error);
  ASSERT_TRUE(report) << error;
  EXPECT_EQ(*report,
            "application abc version 0.1.0 on x86_64, system 12, device ID: 2 session(s)\n"
            "  session 3: 2023-11-14 22:13:20 - 2023-11-14 22:23:20 (600 s), at 52.5, 13.25\n"
            "    \"level 1\" (timed): 2023-11-14 22:13:30 - still running\n"
            "  session 4: 2023-11-14 22:30:00 - still running\n");
}

TEST(UploadReport, RefusesWhatIsNotAReport) {
  std::string error;
  EXPECT_FALSE(describeUpload("{\"beacons\":[", error));
  EXPECT_NE(error.find("not JSON"), std::string::npos);
  EXPECT_FALSE(describeUpload("{\"other\":1}", error));
  EXPECT_EQ(error, "the document.iphone_id is missing");
}
