// SharedTablesTest: the process-id table's limits and the per-thread last error of the library object.
#include "ProcessIdTable.h"
#include "QorCamDLL.h"
#include "TempRoot.h"

#include "os/NamedEvent.h"
#include "os/SharedMemory.h"

#include <gtest/gtest.h>

#include <thread>

using namespace qorcam;

namespace {

TEST(ProcessIdTable, FullOrDamagedTableIsLeftAsItIsButStillSignalled) {
    qorcam::testing::TempRoot root;
    library::CProcessIdTable table;
    table.Open();
    ASSERT_TRUE(table.IsOpen());
    os::SharedMemory area(shared::kProcessIdTableName, sizeof(shared::ProcessIdTable));
    os::NamedEvent changed(shared::kProcessIdEventName, os::ResetMode::Auto);
    auto* t = static_cast<shared::ProcessIdTable*>(area.Data());

    for (std::uint32_t i = 0; i < 256; ++i)
        table.Add(1000 + i);
    EXPECT_EQ(t->count, 256u);
    changed.Wait(0);
    table.Add(5000);
    EXPECT_EQ(t->count, 256u) << "the 257th process is not listed";
    EXPECT_EQ(t->id[255], 1255u);
    EXPECT_TRUE(changed.Wait(0)) << "the event is set anyway";

    table.Remove(77);
    EXPECT_EQ(t->count, 256u) << "an unlisted process changes nothing";
    table.Remove(1000);
    EXPECT_EQ(t->count, 255u);
    EXPECT_EQ(t->id[0], 1001u) << "later entries move down";
    EXPECT_EQ(t->id[254], 1255u);

    t->count = 0xFFFFFFF0u; // written by a faulty process
    table.Add(6000);
    EXPECT_EQ(t->count, 0xFFFFFFF0u) << "read as a full table, nothing written past it";
    table.Remove(1255);
    EXPECT_EQ(t->count, 255u);
    table.Close();
}

TEST(QorCamDLL, LastErrorBelongsToTheCallingThread) {
    library::CQorCamDLL library;
    library.SetLastErrorCode(7);
    EXPECT_EQ(library.GetLastErrorCode(), 7u);
    EXPECT_EQ(library.GetLastErrorCode(), 7u) << "reading does not clear it";

    std::uint32_t other = 1;
    std::thread([&] { other = library.GetLastErrorCode(); }).join();
    EXPECT_EQ(other, 0u);

    library.SetLastErrorCode(0);
    EXPECT_EQ(library.GetLastErrorCode(), 0u);
}

} // namespace
