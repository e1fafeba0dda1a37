#include "media/server_connection_record.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerConnectionRecordTest, FieldsSitAtTheirFixedPositionsAndCopiesAreDeep) {
    ServerConnectionRecord record;
    record.SetIp("192.168.1.10");
    record.SetUser("admin");
    record.SetPassword("1234");
    EXPECT_EQ(record.GetServerName(), "");
    EXPECT_EQ(record.GetPort(), "");
    EXPECT_EQ(record.GetSaveEnable(), "");
    record.SetServerName("Depot");
    record.SetPort("8080");
    record.SetSaveEnable("1");

    const std::pair<int, std::string> filled[] = {{7, "192.168.1.10"}, {11, "Depot"}, {14, "8080"},
                                                  {16, "admin"},       {17, "1234"},  {19, "1"}};
    int non_empty = 0;
    for (int p = 0; p < ServerConnectionRecord::kTextCount; ++p) non_empty += !record.Text(p).empty();
    EXPECT_EQ(non_empty, 6);
    for (const auto& [position, text] : filled) EXPECT_EQ(record.Text(position), text) << position;

    ServerConnectionRecord copy = record;
    copy.SetPassword("changed");
    EXPECT_EQ(record.GetPassword(), "1234");
    ServerConnectionRecord assigned;
    assigned = record;
    for (int p = 0; p < ServerConnectionRecord::kTextCount; ++p) EXPECT_EQ(assigned.Text(p), record.Text(p));
}

}  // namespace
