// The COM browsers against servers that misbehave: a DA 2.0 server that cannot jump to a
// position, positions without an item ID, refused positions, and properties that do not come as
// asked. A level that fails raises and keeps the list as it was; what a walk or a short answer
// left out is named in the browser's gaps.
#include "ComBrowseFixture.h"
#include "contract/VelqorError.h"

namespace velqor::test {
namespace {

using Strings = std::vector<std::string>;

sim::SimFaults Faults(void (*set)(sim::SimFaults&)) {
    sim::SimFaults f;
    set(f);
    return f;
}

TEST_F(ComBrowseTest, Da20ServerRefusingBrowseToIsWalkedDownAndClimbedUp) {
    sim::SetSimFaults(Faults([](sim::SimFaults& f) { f.RefuseBrowseTo = true; }));
    Open(kDa20);
    // Three components, "." between the first two and "/" between the last two.
    TVelqorBrowseItem tank;
    tank.Name = "Tank1";
    tank.ItemName = "Plant.Area1/Tank1";
    ASSERT_TRUE(browser->MoveTo(tank));
    EXPECT_EQ(browser->Position()->Name, "Tank1");
    EXPECT_EQ(browser->Position()->ItemName, "Plant.Area1/Tank1");
    EXPECT_EQ(List(2), (Strings{"Level", "Temperature", "Setpoint", "Valve"}));
    tank.ItemName = " \"Plant\". Area2/Pump1";  // blanks skipped, quoted text read as such
    ASSERT_TRUE(browser->MoveTo(tank));
    EXPECT_EQ(List(2), (Strings{"Speed", "Running", "Mode", "Command"}));
    tank.ItemName = "Plant/Area9";
    EXPECT_FALSE(browser->MoveTo(tank));

    ASSERT_TRUE(browser->MoveToRoot()) << "climbs with OPC_BROWSE_UP until refused";
    EXPECT_EQ(browser->Position()->ItemName, "");
    EXPECT_EQ(List(1).size(), 7u);
}

TEST_F(ComBrowseTest, Da20PositionsWithoutItemIDAreNamedByTheEnteredPath) {
    VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's module");
    sim::SetSimFaults(Faults([](sim::SimFaults& f) {
        f.ItemIDErrorPositions = {"Plant/Area1/Tank1", "Plant/Area1/Tank1/Level"};
    }));
    Open(kDa20);
    ASSERT_TRUE(Down({"Plant", "Area1"}));
    List(1);
    ASSERT_NE(Entry("Tank1"), nullptr);
    EXPECT_EQ(Entry("Tank1")->ItemName, "Plant.Area1.Tank1");
    ASSERT_TRUE(Down({"Tank1"}));
    List(2);
    EXPECT_EQ(Entry("Level")->ItemName, "") << "a leaf without an ID has none";
    EXPECT_EQ(Entry("Valve")->ItemName, "Plant/Area1/Tank1/Valve");
    // Up from a position the server cannot name: the last entered name and the joined path.
    sim::SetSimFaults(Faults([](sim::SimFaults& f) { f.ItemIDErrorPositions = {"Plant/Area1"}; }));
    ASSERT_TRUE(browser->MoveUp());
    EXPECT_EQ(browser->Position()->Name, "Area1");
    EXPECT_EQ(browser->Position()->ItemName, "Plant.Area1");
}

// A refused position fails the listing with the server's text; the list keeps what it held.
TEST_F(ComBrowseTest, FailedListingsRaiseAndKeepTheList) {
    VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's module");
    for (const char* server : {kDa20, kDa30}) {
        SCOPED_TRACE(server);
        Open(server);
        ASSERT_TRUE(Down({"Plant", "Area2"}));
        const Strings before = List(3);
        sim::SetSimFaults(
            Faults([](sim::SimFaults& f) { f.RefusedBrowsePositions = {"Plant/Area2"}; }));
        try {
            List(2);
            ADD_FAILURE() << "the refused listing passed";
        } catch (const EOPCBrowserException& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Browser: ", 0), 0u) << e.what();
        }
        EXPECT_EQ(Names(), before);
        sim::ClearSimFaults();
        browser.Reset();
        connection.Reset();
    }
}

// A server that says S_OK and hands out no enumerator has not listed an empty level.
TEST_F(ComBrowseTest, Da20NoEnumeratorIsAWrongResultNotAnEmptyLevel) {
    VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's module");
    for (const char* server : {kDa20, kDa20Flat}) {
        SCOPED_TRACE(server);
        Open(server);
        sim::SetSimFaults(
            Faults([](sim::SimFaults& f) { f.OutArrays = sim::OutArrayFault::Null; }));
        for (bool flat : {false, true}) {
            try {
                List(3, 0, 0, "", flat);
                ADD_FAILURE() << "no enumerator passed as an empty listing, flat " << flat;
            } catch (const EOPCBrowserException& e) {
                EXPECT_NE(std::string(e.what()).find("wrong result"), std::string::npos)
                    << e.what();
            }
        }
        sim::ClearSimFaults();
        browser.Reset();
        connection.Reset();
    }
}

// A flat walk that meets a branch it cannot list fails as a whole instead of leaving that
// branch's items out.
// A branch that cannot be listed is named, the rest of the walk is listed, and the walk ends
// where it began: on every browser, also DA 1.0 and 2.0, whose own flat listing would leave the
// branch out without a word.
TEST_F(ComBrowseTest, FlatWalkNamesARefusedBranchListsTheRestAndEndsWhereItBegan) {
    VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's module");
    for (const char* server : {"Velqor.SimDA10.1", kDa20, kDa30}) {
        SCOPED_TRACE(server);
        sim::ClearSimFaults();
        Open(server);
        ASSERT_TRUE(Down({"Plant"}));
        const Strings whole = List(2, 0, 0, "", true);
        const Strings level = List(3);
        ASSERT_EQ(whole.size(), 8u);
        EXPECT_TRUE(browser->Gaps().empty());
        EXPECT_EQ(List(1, 0, 0, "", true),
                  (Strings{"Area1", "Tank1", "Area2", "Pump1"}))  // branches only, all levels
            << "flat with only branches asked for";
        sim::SetSimFaults(
            Faults([](sim::SimFaults& f) { f.RefusedBrowsePositions = {"Plant/Area2/Pump1"}; }));
        EXPECT_EQ(List(2, 0, 0, "", true), Strings(whole.begin(), whole.begin() + 4));
        ASSERT_EQ(browser->Gaps().size(), 1u);
        EXPECT_NE(browser->Gaps()[0].find("Browse of Plant/Area2/Pump1 failed"), std::string::npos)
            << browser->Gaps()[0];
        EXPECT_EQ(browser->Position()->ItemName, "Plant");
        EXPECT_EQ(List(3), level) << "the server's position is back where the walk began";
        EXPECT_TRUE(browser->Gaps().empty());
        browser.Reset();
        connection.Reset();
    }
}

TEST_F(ComBrowseTest, Da20EnumeratorThatNeverEndsMeetsTheBound) {
    VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's module");
    sim::SetSimFaults(Faults([](sim::SimFaults& f) { f.EndlessBrowse = true; }));
    Open(kDa20);
    EXPECT_THROW(List(3), EBrowseLimit);
    EXPECT_TRUE(list.Count() == 0) << "nothing listed from an answer without an end";
}

TEST_F(ComBrowseTest, ShortAnswersAreListedAndNamed) {
    VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's module");
    // A DA 3.0 server without continuation points: its first portion, and the level is short.
    sim::SetSimFaults(Faults([](sim::SimFaults& f) { f.NoContinuation = true; }));
    Open(kDa30);
    EXPECT_EQ(List(3).size(), 3u);
    ASSERT_EQ(browser->Gaps().size(), 1u);
    EXPECT_NE(browser->Gaps()[0].find("did not return all elements of the root"),
              std::string::npos);
    browser.Reset();
    connection.Reset();
    // A DA 2.0 item whose ID the server does not tell is listed by name, and named as a gap.
    sim::SetSimFaults(
        Faults([](sim::SimFaults& f) { f.ItemIDErrorPositions = {"Plant/Area1/Tank1/Level"}; }));
    Open(kDa20);
    ASSERT_TRUE(Down({"Plant", "Area1", "Tank1"}));
    EXPECT_EQ(List(2).size(), 4u);
    ASSERT_EQ(browser->Gaps().size(), 1u);
    EXPECT_EQ(browser->Gaps()[0], "the server gave no item ID for Level (in Plant/Area1/Tank1)");
}

// Filter properties are found by their IDs; an element without the two asked for is never hidden.
TEST_F(ComBrowseTest, Da30FilterPropertiesAreMatchedByID) {
    VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's module");
    Open(kDa30);
    ASSERT_TRUE(Down({"WriteOnly"}));
    EXPECT_TRUE(List(2, 1).empty()) << "write-only items are not readable";
    // Short answers: each element carries its data type only, no access rights.
    sim::SetSimFaults(Faults([](sim::SimFaults& f) { f.OutArrays = sim::OutArrayFault::Short; }));
    List(3);  // the switches are no change of the browser's: a new filter lists again
    EXPECT_EQ(List(2, 1), (Strings{"Int", "Double", "String"}));
    EXPECT_EQ(List(2, 1, VT_R8), (Strings{"Int", "Double", "String"}));
    sim::SetSimFaults(Faults([](sim::SimFaults& f) { f.PropertyErrorItems = {"WriteOnly/Int"}; }));
    EXPECT_EQ(List(2, 1, VT_BSTR), Strings{"Int"}) << "an item without properties passes";
}

}  // namespace
}  // namespace velqor::test
