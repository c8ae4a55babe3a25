// Test tool: finds a running top-level window by its caption and prints what a person would see of
// it, one line per child control, reading the texts across processes:
//   window <caption>
//   child <class> <left>,<top>,<width>,<height> visible=<0|1> text=<text>
//     item <text>      list box and combo box entries
//     tab <text>       tab captions (read through memory of the window's process)
//   focus <class> <left>,<top>,<width>,<height>   the control with the keyboard focus, when one has it
// Screen coordinates. The window is looked for on the named desktop (a Wine virtual desktop), or
// on the caller's. With --close the window is sent WM_CLOSE instead; with --post <message> the
// window is posted that message (decimal, wParam and lParam 0). A line
//   frame <left>,<top>,<width>,<height> visible=<0|1>
// after the caption gives the whole window's rectangle. Exit code 1 when no window has that caption.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string ClassOf(HWND w) {
  char name[128] = {};
  GetClassNameA(w, name, sizeof name);
  return name;
}

std::string TextOf(HWND w) {
  char text[512] = {};
  SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

// Wide messages: Wine carries their text across processes intact.
void PrintListItems(HWND w, UINT countMsg, UINT lengthMsg, UINT textMsg) {
  LRESULT count = SendMessageW(w, countMsg, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = SendMessageW(w, lengthMsg, static_cast<WPARAM>(i), 0);
    if (length < 0 || length > 1000) continue;
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(w, textMsg, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide.data()));
    char text[4096] = {};
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text, sizeof text - 1, nullptr, nullptr);
    std::printf("  item %s\n", text);
  }
}

void PrintTabs(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return;
  const SIZE_T textSize = 256;
  auto* remote =
      static_cast<char*>(VirtualAllocEx(process, nullptr, sizeof(TCITEMA) + textSize, MEM_COMMIT, PAGE_READWRITE));
  if (remote) {
    LRESULT count = SendMessageA(w, TCM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      TCITEMA item = {};
      item.mask = TCIF_TEXT;
      item.pszText = remote + sizeof(TCITEMA);
      item.cchTextMax = textSize;
      WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
      SendMessageA(w, TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
      char text[textSize] = {};
      ReadProcessMemory(process, remote + sizeof(TCITEMA), text, textSize - 1, nullptr);
      std::printf("  tab %s\n", text);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
}

BOOL CALLBACK PrintChild(HWND w, LPARAM) {
  RECT r;
  GetWindowRect(w, &r);
  std::string cls = ClassOf(w);
  std::printf("child %s %ld,%ld,%ld,%ld visible=%d text=%s\n", cls.c_str(), r.left, r.top, r.right - r.left,
              r.bottom - r.top, IsWindowVisible(w) ? 1 : 0, TextOf(w).c_str());
  if (cls == "ListBox") PrintListItems(w, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
  if (cls == "ComboBox") PrintListItems(w, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
  if (cls == "SysTabControl32") PrintTabs(w);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: inspect_window <caption> [--desktop <name>] [--close] [--post <message>]\n");
    return 2;
  }
  bool close = false;
  UINT post = 0;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--close") close = true;
    if (arg == "--post" && i + 1 < argc) post = static_cast<UINT>(std::strtoul(argv[++i], nullptr, 10));
    if (arg == "--desktop" && i + 1 < argc) {
      HDESK desktop = OpenDesktopA(argv[++i], 0, FALSE, GENERIC_ALL);
      if (!desktop || !SetThreadDesktop(desktop)) {
        std::fprintf(stderr, "cannot use desktop %s\n", argv[i]);
        return 1;
      }
    }
  }
  HWND window = FindWindowA(nullptr, argv[1]);
  if (!window) {
    std::fprintf(stderr, "no window captioned %s\n", argv[1]);
    return 1;
  }
  if (close) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if (post) {
    PostMessageA(window, post, 0, 0);
    return 0;
  }
  std::printf("window %s\n", TextOf(window).c_str());
  RECT frame;
  GetWindowRect(window, &frame);
  std::printf("frame %ld,%ld,%ld,%ld visible=%d\n", frame.left, frame.top, frame.right - frame.left,
              frame.bottom - frame.top, IsWindowVisible(window) ? 1 : 0);
  EnumChildWindows(window, PrintChild, 0);
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui) && gui.hwndFocus) {
    RECT r;
    GetWindowRect(gui.hwndFocus, &r);
    std::printf("focus %s %ld,%ld,%ld,%ld\n", ClassOf(gui.hwndFocus).c_str(), r.left, r.top, r.right - r.left,
                r.bottom - r.top);
  }
  return 0;
}
