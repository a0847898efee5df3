// A long session in one process holds a bounded record: hundreds of tower
// runs leave the journal at its capacity, and a capacity of 0 records
// nothing.
#include "building_test_util.h"

namespace {

class LongSession : public bt::BuildingTest {
 protected:
  void TearDown() override {
    host::Runtime::Get().GetJournal().SetCapacity(host::Journal::kDefaultCapacity);
  }
  static void RaiseAndDelete(int runs) {
    for (int i = 0; i < runs; ++i) {
      ASSERT_TRUE(bt::RaiseTower(L"T", 2, 2, 1).status.Succeeded()) << "run " << i;
      XSI::CValueArray args;
      args.Add(XSI::CValue(L"T"));
      XSI::CValue out;
      ASSERT_TRUE(XSI::Application().ExecuteCommand(L"DeleteObj", args, out).Succeeded());
    }
  }
};

TEST_F(LongSession, JournalKeepsAtMostItsCapacity) {
  host::Journal& journal = host::Runtime::Get().GetJournal();
  journal.SetCapacity(500);
  RaiseAndDelete(200);
  EXPECT_EQ(journal.Entries().size(), 500u);
  EXPECT_GT(journal.Dropped(), 10000u);
  EXPECT_EQ(host::Runtime::Get().GetScene().Count(), 0u);
  // The newest entries are kept: the last is the last DeleteObj.
  EXPECT_EQ(journal.Entries().back().name, L"DeleteObj");
  EXPECT_EQ(journal.Format().rfind("... ", 0), 0u);
}

TEST_F(LongSession, CapacityZeroRecordsNothingAndRunsStillWork) {
  host::Journal& journal = host::Runtime::Get().GetJournal();
  journal.SetCapacity(0);
  RaiseAndDelete(200);
  EXPECT_TRUE(journal.Entries().empty());
  EXPECT_GT(journal.Dropped(), 10000u);
}

}  // namespace
