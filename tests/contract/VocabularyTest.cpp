// The OPC vocabulary: result and property tables, server states, the combined browse
// identifier, the COM error report and the message catalogue.
#include <gtest/gtest.h>

#include "contract/VelqorError.h"
#include "contract/VelqorIntf.h"
#include "contract/VelqorItemData.h"
#include "runtime/HResult.h"

namespace velqor {
namespace {

TEST(Vocabulary, ResultTablesBothWays) {
    EXPECT_EQ(ResultMessage(0), "");
    EXPECT_EQ(ResultName(0), "E_UNKNOWN");
    EXPECT_EQ(ResultName(0x12345), "E_UNKNOWN");
    EXPECT_EQ(ResultName(OPC_E_UNKNOWNITEMID), "E_UNKNOWNITEMNAME");
    EXPECT_EQ(ResultMessage(OPC_S_UNSUPPORTEDRATE),
              "The server does not support the requested data rate\r\nbut will use the closest "
              "available rate.");
    EXPECT_EQ(ResultCodeFromName(""), 0);
    EXPECT_EQ(ResultCodeFromName("e_badtype"), 1);
    EXPECT_EQ(ResultCodeFromName("E_BADTYPE"), OPC_E_BADTYPE);
    for (const char* n : {"E_UNKNOWNITEMID", "E_UNKNOWNITEMNAME", "E_UNKNOWN_ITEM_NAME"})
        EXPECT_EQ(ResultCodeFromName(n), OPC_E_UNKNOWNITEMID) << n;
    EXPECT_EQ(ResultCodeFromName("E_INVALIDPID"), OPC_E_INVALIDPID);
    EXPECT_EQ(ResultCodeFromName("E_INVALIDBRANCHNAME"), OPC_E_INVALIDPID);
    EXPECT_EQ(ResultCodeFromName("E_STALEVALUE"), int32_t(0xC0040407U));
    EXPECT_EQ(ResultCodeFromName("E_UNKNOWN"), 1) << "the name of 0xC0040407 is not one it accepts";
    EXPECT_EQ(ResultCodeFromName("E_UNKNOWNPATH"), OPC_E_UNKNOWNPATH);
}

TEST(Vocabulary, PropertyNamesAndIdentifiers) {
    const std::pair<const char*, int32_t> ids[] = {
        {"DataType", 1}, {"ns:opc:HighEU", 102},  {"xyz:Description", 101},
        {"5001", 5001},  {"q:5001", 5001},        {"abc", -999999},
        {"", -999999},   {"99999999999", -999999}};
    for (auto [name, id] : ids) EXPECT_EQ(PropertyIdFromName(name), id) << name;
    EXPECT_EQ(PropertyNameFromId(5001), "5001");
    EXPECT_EQ(PropertyNameFromId(8), "euInfo");
    for (int id : {1,   2,   3,   4,   5,   6,   7,   8,   100, 101, 102, 103, 104, 105,
                   106, 107, 108, 600, 601, 602, 603, 604, 605, 606, 607, 608, 609})
        EXPECT_EQ(PropertyIdFromName(PropertyNameFromId(id)), id) << id;
    EXPECT_EQ(EUTypeFromName("analog"), 1);
    EXPECT_EQ(EUTypeFromName("enumerated"), 2);
    EXPECT_EQ(EUTypeFromName("Analog"), 0);
    EXPECT_EQ(ServerStateText(1), "running");
    EXPECT_EQ(ServerStateText(3), "no config");
    EXPECT_EQ(ServerStateText(0), "");
    EXPECT_EQ(ServerStateText(6), "");
    EXPECT_TRUE(IsGoodQuality(0xC0));
    EXPECT_TRUE(IsGoodQuality(0xD8));
    EXPECT_FALSE(IsGoodQuality(0x40));
    EXPECT_FALSE(IsGoodQuality(0x80));
}

TEST(Vocabulary, CombinedBrowseIdentifierAndParams) {
    EXPECT_EQ(CombineItemID("", "Item"), "Item");
    EXPECT_EQ(CombineItemID("Path/x", "Item"), "Path/x//Item");
    EXPECT_EQ(SplitItemID("Path/x//Item"), (std::pair<std::string, std::string>{"Path/x", "Item"}));
    EXPECT_EQ(SplitItemID("a//b//c"), (std::pair<std::string, std::string>{"a", "b//c"}));
    EXPECT_EQ(SplitItemID("Item"), (std::pair<std::string, std::string>{"", "Item"}));
    EXPECT_EQ(SplitItemID("//Item"), (std::pair<std::string, std::string>{"", "Item"}));
    std::vector<std::string> params{"xml-user=bob", "xml-pass=", "xml-postby=x=y"};
    EXPECT_EQ(ParamValue(params, "xml-user"), "bob");
    EXPECT_EQ(ParamValue(params, "xml-pass"), "");
    EXPECT_EQ(ParamValue(params, "xml-postby"), "x=y");
    EXPECT_EQ(ParamValue(params, "xml-use"), "");
    EXPECT_EQ(ParamValue(params, "xml-proxy"), "");
    EXPECT_EQ(MaskedDatatype(vtI2 | 0x80), vtI2);
}

TEST(Vocabulary, ComErrorReport) {
    try {
        RaiseComError(OPC_E_INVALIDHANDLE);
        ADD_FAILURE();
    } catch (const EOPCException& e) {
        EXPECT_STREQ(e.what(), "The value of the handle is invalid. E_INVALIDHANDLE");
    }
    try {
        OleCheck(com::E_NOINTERFACE);
        ADD_FAILURE();
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode(), com::E_NOINTERFACE);
        EXPECT_STREQ(e.what(), "No such interface supported");
    }
    EXPECT_EQ(LastCheckedResult(), com::E_NOINTERFACE);
    EXPECT_NO_THROW(OleCheck(OPC_S_CLAMP));
    EXPECT_EQ(LastCheckedResult(), OPC_S_CLAMP);
    EXPECT_NO_THROW(OleCheck(com::S_FALSE));
}

TEST(Vocabulary, CatalogueFillsItsPlaceholderAsItStands) {
    EXPECT_EQ(MsgFormat(Msg::GroupExists, "100%s"), "Group 100%s already exists");
    EXPECT_EQ(MsgFormat(Msg::UnknownError, -5), "Unknown error : -5");
    EXPECT_EQ(MsgFormat(Msg::ItemNotExists, ""), "Item  not exists on OPC server");
    EXPECT_STREQ(MsgText(Msg::CannotWriteItems), "Cannot write Items:");
    EXPECT_TRUE((std::is_base_of_v<EOPCServerException, EOPCServerListException>));
    EXPECT_TRUE((std::is_base_of_v<Exception, EOPCItemException>));
    EXPECT_TRUE((std::is_base_of_v<std::runtime_error, EVelqorSOAPFault>));
}

TEST(ItemData, HandlesAreUniqueAndLookedUpWhileTheItemLives) {
    uint32_t gone;
    {
        TVelqorItemData a, b;
        EXPECT_NE(a.ClientHandle(), 0u);
        EXPECT_NE(a.ClientHandle(), b.ClientHandle());
        EXPECT_EQ(FindItemByClientHandle(a.ClientHandle()), &a);
        gone = b.ClientHandle();
    }
    EXPECT_EQ(FindItemByClientHandle(gone), nullptr);
    EXPECT_EQ(FindItemByClientHandle(0), nullptr);
}

TEST(ItemData, ReportListsAtMost26Failures) {
    std::vector<std::unique_ptr<TVelqorItemData>> items;
    TVelqorItemList list;
    for (int i = 0; i < 30; ++i) {
        items.push_back(std::make_unique<TVelqorItemData>());
        items.back()->FItemID = "I" + std::to_string(i);
        items.back()->ApplyUpdate(ItemUpdate::OperationResult(i == 3 ? 0 : OPC_E_RANGE));
        list.Add(items.back().get());
    }
    std::string text = list.ReportText("Cannot add Items:");
    EXPECT_EQ(text.rfind("Cannot add Items:\r\nI0- The value was out of range.\r\nI1- ", 0), 0u);
    EXPECT_EQ(text.find("I3-"), std::string::npos);
    EXPECT_NE(text.find("I26- "), std::string::npos);
    EXPECT_EQ(text.find("I27- "), std::string::npos);
    try {
        list.Report("Cannot add Items:", true);
        ADD_FAILURE();
    } catch (const EOPCItemException& e) {
        EXPECT_EQ(e.what(), text);
    }
    items[0]->FServerHandle = 5;
    try {
        list.CheckAllAdded();
        ADD_FAILURE();
    } catch (const EOPCServerException& e) {
        EXPECT_STREQ(e.what(), "Item I1 not exists on OPC server");
    }
    items[5]->ApplyUpdate(ItemUpdate::OperationResult(int32_t(0x80001234)));
    EXPECT_NE(list.ReportText("x").find("I5- Unknown error : -2147478988\r\n"), std::string::npos);
    EXPECT_EQ(TVelqorItemList().ReportText("x"), "");
}

}  // namespace
}  // namespace velqor
