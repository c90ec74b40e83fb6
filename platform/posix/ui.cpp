// Message boxes: each box is written to the machine's journal with who showed
// it, its caption, text and flags, and is answered at once with the default
// button (OK), as a user who reads and closes it would.
#include "ui.h"

#include <unistd.h>

#include "machine.h"

int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    std::string caption = w32::to_utf8(lpCaption ? lpCaption : "Error");
    std::string text = w32::to_utf8(lpText ? lpText : "");
    int answer = IDOK;
    if ((uType & 0xF) == MB_YESNO) answer = IDYES;
    std::string json = "{\"kind\":\"box\",\"time\":\"" + w32::format_machine_time(w32::machine_local_ms()) +
                       "\",\"pid\":" + std::to_string(getpid()) + ",\"image\":\"" +
                       w32::json_escape(w32::image_name()) + "\",\"caption\":\"" + w32::json_escape(caption) +
                       "\",\"text\":\"" + w32::json_escape(text) + "\",\"flags\":" + std::to_string(uType) +
                       ",\"answer\":" + std::to_string(answer) + "}";
    w32::journal_append(json);
    return answer;
}
