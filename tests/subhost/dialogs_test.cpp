// Dialogs and items: binding to the record, the messages of edits and presses,
// closing, drawing and the tool settings window.
#include <cstring>

#include "subhost/host_fixture.h"

using Log = std::vector<std::string>;

class DialogTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        load();
        record().Number = 5;
        db = mdlDialog_open(nullptr, 400);
        ASSERT_NE(db, nullptr);
        log().clear();
    }
    MSDialog* db = nullptr;
};

TEST_F(DialogTest, OpeningSendsCreateThenAllCreatedAndShowsTheRecord) {
    testapp::reset();
    record().Number = 9;
    MSDialog* other = mdlDialog_create(nullptr, 400);
    ASSERT_NE(other, nullptr);
    // Dialog hook first, then 50 to each hooked item, then 73 to each.
    EXPECT_EQ(log(), (Log{"dialog:0:0:0", "item:1:50", "item:2:50", "item:3:50", "item:4:50", "item:1:73", "item:2:73",
                          "item:3:73", "item:4:73"}));
    wchar_t text[32];
    MSValueDescr value;
    ASSERT_EQ(mdlDialog_itemGetValue(&value, text, other, 0, 32), 0);
    EXPECT_STREQ(text, L"9");
}

TEST_F(DialogTest, EditStoresThroughTheBindingWithTheMessageSequence) {
    std::string error;
    ASSERT_TRUE(subhost::itemSet("400", RTYPE_Text, 1, "42", &error)) << error;
    EXPECT_EQ(record().Number, 42);
    // The item takes the focus first (121); the next edit of the same item does not send it again.
    EXPECT_EQ(log(), (Log{"item:1:121", "item:1:59", "item:1:61", "item:1:71:changed"}));
    // At 59 the item shows the typed value; the record still holds the old one.
    EXPECT_EQ(testapp::state().valueAtJustify, "42");
    EXPECT_EQ(testapp::state().numberAtJustify, 5);
    log().clear();
    ASSERT_TRUE(subhost::itemSet("400", RTYPE_Text, 1, "42", &error));
    EXPECT_EQ(log().back(), "item:1:71:same");
}

TEST_F(DialogTest, EditsOfEachFieldKind) {
    std::string error;
    ASSERT_TRUE(subhost::itemSet("400", RTYPE_Text, 2, "2.5", &error)) << error;
    EXPECT_DOUBLE_EQ(record().Ratio, 2.5);
    ASSERT_TRUE(subhost::itemSet("400", RTYPE_OptionButton, 4, "auto", &error)) << error;
    EXPECT_EQ(record().Mode, 2);
    ASSERT_TRUE(subhost::itemSet("400", RTYPE_OptionButton, 4, "1", &error)) << error;
    EXPECT_EQ(record().Mode, 1);
    ASSERT_TRUE(subhost::itemSet("400", RTYPE_Text, 8, "a long name", &error)) << error;
    EXPECT_STREQ(record().Name, "a long ");  // cut to the field's capacity
    ASSERT_TRUE(subhost::itemSet("400", RTYPE_Text, 9, "-7", &error)) << error;
    EXPECT_EQ(record().Values[2], -7);
    EXPECT_EQ(record().Values[1], 0);
}

TEST_F(DialogTest, BadValuesAndUnusableItemsAreRefusedWithoutChange) {
    std::string error;
    EXPECT_FALSE(subhost::itemSet("400", RTYPE_Text, 1, "12abc", &error));
    EXPECT_NE(error.find("whole number"), std::string::npos);
    EXPECT_FALSE(subhost::itemSet("400", RTYPE_Text, 2, "nan", &error));
    EXPECT_FALSE(subhost::itemSet("400", RTYPE_OptionButton, 4, "sometimes", &error));
    EXPECT_NE(error.find("Auto=2"), std::string::npos);
    EXPECT_FALSE(subhost::itemSet("400", RTYPE_Text, 10, "1", &error));  // disabled in the resources
    EXPECT_NE(error.find("disabled"), std::string::npos);
    EXPECT_FALSE(subhost::itemSet("400", RTYPE_Text, 77, "1", &error));
    EXPECT_FALSE(subhost::itemSet("999", RTYPE_Text, 1, "1", &error));
    EXPECT_FALSE(subhost::itemPress("400", RTYPE_PushButton, 99, &error));
    EXPECT_EQ(record().Number, 5);
    EXPECT_TRUE(log().empty());
}

TEST_F(DialogTest, TogglePressSendsButtonMessagesThenStores) {
    std::string error;
    ASSERT_TRUE(subhost::itemPress("400", RTYPE_ToggleButton, 3, &error)) << error;
    EXPECT_EQ(record().Flag, 1);
    EXPECT_EQ(log(), (Log{"item:3:121", "item:3:54:1", "item:3:54:2", "item:3:59", "item:3:61", "item:3:71:changed"}));
}

TEST_F(DialogTest, ActionButtonAsksTheDialogHookThenCloses) {
    std::string error;
    testapp::state().abortAction = true;
    ASSERT_TRUE(subhost::itemPress("400", RTYPE_PushButton, 5, &error));
    EXPECT_EQ(log(), Log{"dialog:15:3:0"});
    EXPECT_NE(mdlDialog_find(400, nullptr), nullptr);
    log().clear();
    testapp::state().abortAction = false;
    ASSERT_TRUE(subhost::itemPress("400", RTYPE_PushButton, 5, &error));
    EXPECT_EQ(log(), (Log{"dialog:15:3:0", "dialog:2:3:0", "item:1:51", "item:2:51", "item:3:51", "item:4:51"}));
    EXPECT_EQ(mdlDialog_find(400, nullptr), nullptr);
}

TEST_F(DialogTest, PushButtonQueuesItsCommand) {
    std::string error;
    ASSERT_TRUE(subhost::itemPress("400", RTYPE_PushButton, 11, &error));
    EXPECT_EQ(log(), Log{"beta:"});
}

TEST_F(DialogTest, UserCloseSendsDestroyClosedByUser) {
    std::string error;
    ASSERT_TRUE(subhost::closeDialog("400", &error));
    ASSERT_FALSE(log().empty());
    EXPECT_EQ(log().front(), "dialog:2:0:4");
    EXPECT_FALSE(subhost::closeDialog("400", &error));
}

TEST_F(DialogTest, ItemStateAndDrawingShowInTheDump) {
    DialogItem* item = mdlDialog_itemGetByTypeAndId(db, RTYPE_Text, 2, 0);
    ASSERT_NE(item, nullptr);
    mdlDialog_itemSetEnabledState(db, item->itemIndex, false, true);
    mdlDialog_itemHide(db, mdlDialog_itemGetByTypeAndId(db, RTYPE_Text, 8, 0)->itemIndex, true);
    const auto dump = subhost::dumpItems("400");
    const auto& items = dump["items"];
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[1]["enabled"], false);
    EXPECT_EQ(items[6]["shown"], false);
    EXPECT_EQ(items[0]["value"], 5);
    ASSERT_TRUE(items[5].contains("drawing"));
    EXPECT_EQ(items[5]["drawing"][0]["kind"], "line");
    std::string error;
    EXPECT_FALSE(subhost::itemSet("400", RTYPE_Text, 2, "1", &error));
}

TEST_F(DialogTest, SetFieldGoesThroughAnOpenBoundItem) {
    std::string error;
    ASSERT_TRUE(subhost::setField("Number", "8", &error)) << error;
    EXPECT_EQ(record().Number, 8);
    EXPECT_EQ(log(), (Log{"item:1:59", "item:1:61", "item:1:71:changed"}));
    ASSERT_TRUE(subhost::setField("Values3", "4", &error)) << error;
    EXPECT_EQ(record().Values[3], 4);
    ASSERT_TRUE(subhost::setField("Color", "1,2,3", &error)) << error;
    EXPECT_EQ(record().Color[2], 3);
    EXPECT_FALSE(subhost::setField("Values", "4", &error));   // a list needs an index
    EXPECT_FALSE(subhost::setField("Values4", "4", &error));  // outside the list
    EXPECT_FALSE(subhost::setField("Color", "1,2,300", &error));
    EXPECT_FALSE(subhost::setField("Missing", "1", &error));
    const auto dump = subhost::dumpSettings();
    EXPECT_EQ(dump["fields"]["Values"], nlohmann::json({0, 0, 0, 4}));
    EXPECT_EQ(dump["fields"]["Color"], nlohmann::json({1, 2, 3}));
}

TEST_F(HostTest, ToolSettingsShowTheDialogOfTheRunningCommand) {
    load();
    EXPECT_EQ(mdlDialog_getToolSettings(), nullptr);
    std::string error;
    ASSERT_TRUE(subhost::keyin("alpha other", &error));  // dialog 300 while the window is closed
    log().clear();
    subhost::toolSettings(true);
    ASSERT_NE(mdlDialog_getToolSettings(), nullptr);
    EXPECT_EQ(mdlDialog_getDialogId(mdlDialog_getToolSettings()), 300);
    EXPECT_EQ(log(), (Log{"item:1:50", "item:1:73", "item:1:52"}));
    log().clear();
    ASSERT_TRUE(subhost::keyin("beta", &error));  // switches to 301
    EXPECT_EQ(log(), (Log{"item:1:51", "item:3:50", "item:3:73", "item:3:52", "beta:"}));
    ASSERT_TRUE(subhost::itemPress("toolsettings", RTYPE_ToggleButton, 3, &error)) << error;
    EXPECT_EQ(record().Flag, 1);
    subhost::toolSettings(false);
    EXPECT_EQ(mdlDialog_getToolSettings(), nullptr);
    EXPECT_FALSE(subhost::itemPress("toolsettings", RTYPE_ToggleButton, 3, &error));
}
