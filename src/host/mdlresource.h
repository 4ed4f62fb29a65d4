// Layout of an application's resources as the host loads them: command table,
// message lists, string lists, dialogs and their items, item lists, menus,
// icons and the types of records published to dialog items.
//
// The application exports one `MdlResources` table (C linkage) that the host
// looks up when it loads the application, the way it opens the resource file
// that travels with an application.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "host/mdltypes.h"

namespace rsc {

// A node of the key-in command tree. The command number of a key-in is made of
// the indexes of the words along its path, one byte each from the top byte down.
struct CommandEntry {
    int index;                          // 1-255 within its table
    const char* word;                   // key-in word (matched ignoring case, unique prefixes allowed)
    std::span<const CommandEntry> sub;  // next words; empty for a leaf
    int toolSettingsDialog;             // dialog shown in the tool settings window, 0 for none
};

struct Message {
    int id;
    const char* text;
};

struct MessageList {
    int id;
    std::span<const Message> messages;
};

struct StringListMember {
    const char* text;
    long info[4];
};

struct StringList {
    int id;
    int infoFields;
    std::span<const StringListMember> members;
};

// A choice of an option button: label and the value it stores.
struct OptionChoice {
    const char* label;
    long value;
};

struct Item {
    std::uint32_t type;  // RTYPE_ value
    int id;
    const char* label;
    const char* access;  // e.g. "s__globals.ScaleX", "s__globals.LineStyle[3]"; empty for none
    long hookId;         // 0 for none
    long itemArg;        // number handed to the hook with the item
    bool enabled;
    bool shown;
    std::span<const OptionChoice> choices;  // option buttons
    int action;                             // push buttons: the action they close the dialog with, 0 for none
    CommandNumber command;                  // icon commands and push buttons: command queued on press
    int iconId;                             // icon commands and icon items
};

struct Dialog {
    int id;
    std::uint32_t type;  // RTYPE_DialogBox or RTYPE_ToolBox
    const char* title;
    long hookId;
    std::span<const Item> items;
};

struct ItemList {
    int id;  // loaded as RTYPE_DialogItemList
    std::span<const Item> items;
};

struct MenuItem {
    const char* label;
    long searchValue;
    CommandNumber command;
    const char* argument;  // command argument text, may be empty
};

struct Menu {
    std::uint32_t type;  // RTYPE_PulldownMenu
    int id;
    const char* title;
    std::span<const MenuItem> items;
    int menuBarItem;  // 0: a menu of the command window; else the id of the dialog menu bar item ('mBar') it sits in
};

struct Icon {
    int id;
    int width;
    int height;
    const char* name;
};

enum class FieldKind { Int32, Double, Text, Rgb };

// A field of a published record: arrayCount elements of elementSize bytes each.
struct Field {
    const char* name;
    std::size_t offset;
    FieldKind kind;
    int arrayCount;           // 1 for a plain field
    std::size_t elementSize;  // text capacity for Text fields
};

struct RecordType {
    const char* name;
    std::size_t size;
    std::span<const Field> fields;
};

struct File {
    const char* taskId;
    std::span<const CommandEntry> commandTable;
    int commandNameList;  // message list of command names (tool-state command ids)
    int promptList;       // message list of prompts (tool-state prompt ids)
    std::span<const MessageList> messageLists;
    std::span<const StringList> stringLists;
    std::span<const Dialog> dialogs;
    std::span<const ItemList> itemLists;
    std::span<const Menu> menus;
    std::span<const Icon> icons;
    std::span<const RecordType> types;
};

}  // namespace rsc

extern "C" {
// Exported by every application: its resources.
const rsc::File* MdlResources();
}
