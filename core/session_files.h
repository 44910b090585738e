// What a line of the session list does for the file it stands for, the same in both editions: a
// double-click or Enter opens the file, and the line's context menu offers these commands in this
// order. Each edition keeps the committed paths of the run in the list's order and carries the
// commands out with its own desktop's services; nothing here is stored between runs.
#pragma once

// ITEM(command, text key) for the line's context menu, top to bottom. The list is expanded by
// each edition with its own text type, as the text table is; the first entry is also what
// activating the line does.
#define QUILLMERE_SESSION_MENU(ITEM)                                                               \
    ITEM(Open, TextOpenFile)                                                                       \
    ITEM(ShowInFolder, TextShowInFolder)

namespace core {

#define QUILLMERE_SESSION_COMMAND(command, text) command,
enum class SessionFileCommand { QUILLMERE_SESSION_MENU(QUILLMERE_SESSION_COMMAND) };
#undef QUILLMERE_SESSION_COMMAND

inline constexpr SessionFileCommand SessionActivateCommand = SessionFileCommand::Open;

} // namespace core
