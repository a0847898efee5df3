// A long session in one process holds a bounded record: hundreds of tower
// runs leave the journal at its capacity, and a capacity of 0 records
// nothing.
#include "building_test_util.h"

namespace {

class LongSession : public bt::BuildingTest {
 protected:
  void TearDown() override {
    host::Runtime::Get().GetJournal().SetCapacity(host::Journal::kDefaultCapacity);
    host::Runtime::Get().GetJournal().SetByteBudget(host::Journal::kDefaultByteBudget);
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
  EXPECT_LE(journal.Bytes(), journal.ByteBudget());
}

TEST_F(LongSession, JournalKeepsWithinItsByteBudgetWhateverTheEntriesCarry) {
  host::Journal& journal = host::Runtime::Get().GetJournal();
  journal.SetByteBudget(64 * 1024);
  // Wide entries: a long text argument each.
  const XSI::CString wide(std::wstring(200, L'x'));
  for (int i = 0; i < 200; ++i) {
    host::JournalEntry e;
    e.name = L"Wide";
    e.args.assign(13, XSI::CValue(wide));
    journal.Add(std::move(e));
  }
  EXPECT_LE(journal.Bytes(), 64u * 1024);
  EXPECT_GE(journal.Entries().size(), 1u);
  EXPECT_LT(journal.Entries().size(), 200u);
  journal.SetByteBudget(host::Journal::kDefaultByteBudget);
}

TEST_F(LongSession, CapacityZeroRecordsNothingAndRunsStillWork) {
  host::Journal& journal = host::Runtime::Get().GetJournal();
  journal.SetCapacity(0);
  RaiseAndDelete(200);
  EXPECT_TRUE(journal.Entries().empty());
  EXPECT_GT(journal.Dropped(), 10000u);
}

}  // namespace
