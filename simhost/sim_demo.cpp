// The stand-in simulator as a program: loads Kolvarine.dll the way the
// simulator does and flies the typical drop through the simulator's side only
// (frame paints, the menu command, the pilot's clicks, timer ticks), printing
// what the simulator sees of the module at every step.
//
//   simhost.exe [--dll PATH] [--config PATH] [--real-timers] [--screens DIR]
//   simhost.exe --hold-window EVENT
//       (a second simulator: its main window and no module, until the named
//        event is set; the tests start it so)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "simhost/sim_host.h"

namespace {

struct DemoOptions {
  std::string dll;
  std::string config;
  std::string screens;
  std::string holdUntil;
  bool realTimers = false;
};

size_t g_logMark = 0;  // log entries already reported

std::string Folder(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ProgramFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  return Folder(std::string(path, length));
}

bool ParseOptions(int argc, char** argv, DemoOptions* options) {
  options->dll = ProgramFolder() + "Kolvarine.dll";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--dll" && hasValue) {
      options->dll = argv[++i];
    } else if (arg == "--config" && hasValue) {
      options->config = argv[++i];
    } else if (arg == "--screens" && hasValue) {
      options->screens = argv[++i];
    } else if (arg == "--real-timers") {
      options->realTimers = true;
    } else if (arg == "--hold-window" && hasValue) {
      options->holdUntil = argv[++i];
    } else {
      fprintf(stderr, "usage: simhost.exe [--dll PATH] [--config PATH] [--real-timers] [--screens DIR]\n"
                      "       simhost.exe --hold-window EVENT\n");
      return false;
    }
  }
  return true;
}

std::string ReadFile(const std::string& path) {
  std::string bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return bytes;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.append(chunk, n);
  fclose(file);
  return bytes;
}

// What the simulator's screen and services received since the last report.
void ReportNewCalls() {
  const std::vector<SimCall>& log = SimLog();
  std::string events;
  for (size_t i = g_logMark; i < log.size(); ++i) {
    const SimCall& call = log[i];
    char line[64];
    switch (call.op) {
      case kSimShowText:
        printf("    simulator screen: \"%s\" (%lu, %lu, %lu)\n", call.text.c_str(), call.args[0], call.args[1],
               call.args[2]);
        break;
      case kSimSetVariable:
        printf("    carried load set: %.1f (variable %lu, %lu, mode %lu)\n", call.value, call.args[0], call.args[1],
               call.args[2]);
        break;
      case kSimFireEvent:
        snprintf(line, sizeof(line), " 0x%lX", call.args[0]);
        events += line;
        break;
      case kSimSetTimer:
        printf("    timer %lu started: %lu ms\n", call.args[0], call.args[1]);
        break;
      case kSimKillTimer:
        printf("    timer %lu stopped\n", call.args[0]);
        break;
      case kSimMessageBox:
        printf("    message box \"%s\": %s\n", call.caption.c_str(), call.text.c_str());
        break;
      default:
        break;
    }
  }
  if (!events.empty()) printf("    events:%s\n", events.c_str());
  g_logMark = log.size();
}

void PrintSlots(const SimAircraft* aircraft) {
  printf("    slots:");
  for (int position = 1; position <= 4 && position <= aircraft->slotCount; ++position) {
    const EffectSlot* slot = aircraft->slots[position - 1];
    printf(" %d (%.1f, %.1f, %.1f) \"%s\"%s;", position, slot->x, slot->y, slot->z, slot->name ? slot->name : "<null>",
           SimSlotIsOriginal(aircraft, position) ? " own" : "");
  }
  printf("\n");
}

void PrintDialog(HWND dialog) {
  char title[128] = "";
  GetWindowTextA(dialog, title, sizeof(title));
  printf("    dialog \"%s\"%s\n", title, IsWindowVisible(dialog) ? "" : " (hidden)");
  printf("    count field \"%s\"%s, interval field \"%s\"\n", SimControlText(dialog, IDC_COUNT_FIELD).c_str(),
         SimControlEnabled(dialog, IDC_COUNT_FIELD) ? "" : " (disabled)",
         SimControlText(dialog, IDC_INTERVAL_FIELD).c_str());
  std::string streams = SimControlText(dialog, IDC_STREAMS_TEXT);
  for (size_t at = streams.find("\r\n"); at != std::string::npos; at = streams.find("\r\n")) streams.replace(at, 2, " / ");
  printf("    description \"%s\"\n", streams.c_str());
  printf("    label \"%s\"\n", SimControlText(dialog, IDC_COUNT_LABEL).c_str());
  std::vector<std::string> entries = SimListEntries(dialog, IDC_CONFIG_LIST);
  int selected = SimListSelection(dialog, IDC_CONFIG_LIST);
  printf("    list%s:", SimControlEnabled(dialog, IDC_CONFIG_LIST) ? "" : " (disabled)");
  for (size_t i = 0; i < entries.size(); ++i)
    printf(static_cast<int>(i) == selected ? " [%s]" : " %s", entries[i].c_str());
  printf("\n    load button %s, drop button %s, visualisation box %s%s\n",
         SimControlEnabled(dialog, IDC_LOAD_BUTTON) ? "enabled" : "disabled",
         SimControlEnabled(dialog, IDC_DROP_BUTTON) ? "enabled" : "disabled",
         SimBoxChecked(dialog, IDC_VISUAL_BOX) ? "checked" : "clear",
         SimControlEnabled(dialog, IDC_VISUAL_BOX) ? "" : " (disabled)");
}

// Saves what the screen shows of `window` as a 24-bit BMP (Xvfb under Wine).
bool SaveScreenshot(HWND window, const std::string& path) {
  RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  SimPumpMessages();
  RECT rect;
  GetWindowRect(window, &rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = NULL;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  DWORD imageSize = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = header.bfOffBits + imageSize;
  bool saved = false;
  if (FILE* file = fopen(path.c_str(), "wb")) {
    saved = fwrite(&header, sizeof(header), 1, file) == 1 && fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, file) == 1 &&
            fwrite(bits, imageSize, 1, file) == 1;
    fclose(file);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
  if (saved) printf("    screenshot: %s\n", path.c_str());
  return saved;
}

std::string g_menuShot;
HWND g_menuShotWindow;

void CALLBACK CaptureOpenMenu(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(NULL, timer);
  SaveScreenshot(g_menuShotWindow, g_menuShot);
  EndMenu();
}

// Opens the module's pop-up under its title on the bar, as a click would, and
// takes the picture from inside the menu's own message loop.
void ScreenshotWithMenuOpen(HWND window, const std::string& path) {
  HMENU bar = GetMenu(window);
  int last = GetMenuItemCount(bar) - 1;
  RECT item;
  if (last < 0 || !GetMenuItemRect(window, bar, last, &item)) return;
  g_menuShot = path;
  g_menuShotWindow = window;
  SetTimer(NULL, 0, 300, CaptureOpenMenu);
  SetForegroundWindow(window);
  TrackPopupMenu(GetSubMenu(bar, last), TPM_LEFTALIGN | TPM_TOPALIGN, item.left, item.bottom, 0, window, NULL);
}

void Step(const char* what) {
  printf("\n== %s\n", what);
}

void PrintRecords(HMODULE module) {
  const HostImportEntry* table = reinterpret_cast<const HostImportEntry*>(GetProcAddress(module, "ImportTable"));
  const ModuleLinkage* linkage = reinterpret_cast<const ModuleLinkage*>(GetProcAddress(module, "Linkage"));
  if (!table || !linkage) {
    printf("    the module does not export ImportTable and Linkage\n");
    return;
  }
  printf("    ImportTable:");
  for (int i = 0; i < kImportTableEntries; ++i) printf(" 0x%lX%s", table[i].serviceId, table[i].service ? "*" : "");
  printf("\n    (* = service table the simulator wrote in)\n");
  printf("    Linkage: %lu, %s, %s, %lu, %lu, 0x%04lX, %s\n", linkage->reserved0,
         linkage->initialise ? "function" : "null",
         linkage->initialise == linkage->shutdown ? "same function" : "another function", linkage->reserved3,
         linkage->reserved4, linkage->version, linkage->reserved6 ? "pointer" : "null");
}

void PrintMenuBar() {
  printf("    menu bar:");
  for (const std::string& title : SimMenuBarTitles()) printf(" [%s]", title.c_str());
  printf("\n");
}

int ChooseByText(HWND dialog, const char* text) {
  std::vector<std::string> entries = SimListEntries(dialog, IDC_CONFIG_LIST);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == text) {
      SimChooseEntry(dialog, static_cast<int>(i));
      return static_cast<int>(i);
    }
  }
  return -1;
}

// What the pilot sees in the dialog and what the simulator got, per tick.
void ReportTick(int tick, HWND dialog, const SimAircraft* aircraft) {
  printf("-- tick %d: \"%s\"\n", tick, SimControlText(dialog, IDC_COUNT_LABEL).c_str());
  ReportNewCalls();
  PrintSlots(aircraft);
}

bool DropRunning(HWND dialog) {
  for (const SimTimer& timer : SimTimers())
    if (timer.window == dialog && timer.id == kDropTimerId) return true;
  return false;
}

int RunDrop(const DemoOptions& options, HWND dialog, const SimAircraft* aircraft) {
  int ticks = 0;
  if (!options.realTimers) {
    while (DropRunning(dialog) && ticks < 1000) {
      SimFireTimer(dialog, kDropTimerId);
      ReportTick(++ticks, dialog, aircraft);
      if (ticks == 30 && !options.screens.empty()) SaveScreenshot(dialog, options.screens + "\\dialog-mid-drop.bmp");
    }
    return ticks;
  }
  // Real timers: the module's own SetTimer, dispatched by this message loop.
  size_t loads = static_cast<size_t>(SimCount(kSimSetVariable)) + static_cast<size_t>(SimCount(kSimShowText));
  DWORD start = GetTickCount();
  bool ended = false;
  while (!ended && GetTickCount() - start < 300000) {
    MSG message;
    if (!GetMessageA(&message, NULL, 0, 0)) break;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    size_t now = static_cast<size_t>(SimCount(kSimSetVariable)) + static_cast<size_t>(SimCount(kSimShowText));
    if (now != loads) {
      loads = now;
      ended = SimLast(kSimShowText) && SimCount(kSimShowText) >= 2;
      ReportTick(++ticks, dialog, aircraft);
      printf("    (%lu ms after the drop button)\n", GetTickCount() - start);
      if (ticks == 30 && !options.screens.empty()) SaveScreenshot(dialog, options.screens + "\\dialog-mid-drop.bmp");
    }
  }
  return ticks;
}

// Another simulator on the same desktop: a main window of class FS98MAIN in a
// process of its own, above the windows made before it, until told to go.
int HoldWindow(const std::string& eventName) {
  HANDLE done = OpenEventA(SYNCHRONIZE, FALSE, eventName.c_str());
  if (!done) {
    fprintf(stderr, "simhost: no event %s\n", eventName.c_str());
    return 2;
  }
  HWND window = SimCreateMainWindow();
  if (!window) return 1;
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  const DWORD kLimitMs = 15 * 60 * 1000;
  for (DWORD start = GetTickCount(); GetTickCount() - start < kLimitMs;) {
    if (MsgWaitForMultipleObjects(1, &done, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) break;
    SimPumpMessages();
  }
  SimDestroyMainWindow();
  CloseHandle(done);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Written as it happens: into a pipe, the C runtime would otherwise hold
  // everything back until the drop is over.
  setvbuf(stdout, NULL, _IONBF, 0);
  DemoOptions options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  if (!options.holdUntil.empty()) return HoldWindow(options.holdUntil);
  std::string config = options.config.empty() ? std::string() : ReadFile(options.config);

  SimReset();
  SimEnterTempFolder();
  if (!config.empty()) SimWriteConfig(config);
  SimAircraft* aircraft = SimAddAircraft(4);
  SimSetCurrentAircraft(aircraft);

  Step("The simulator starts: its main window, then the modules");
  HWND window = SimCreateMainWindow();
  if (!window) {
    fprintf(stderr, "simhost: cannot create the main window (no display?)\n");
    return 1;
  }
  MoveWindow(window, 0, 0, 720, 520, TRUE);
  PrintMenuBar();
  SimLoadOptions loadOptions;
  loadOptions.fakeTimers = !options.realTimers;
  HMODULE module = SimLoadModule(options.dll.c_str(), loadOptions);
  if (!module) {
    fprintf(stderr, "simhost: cannot load %s\n", options.dll.c_str());
    return 1;
  }
  printf("    loaded %s\n", options.dll.c_str());
  PrintRecords(module);
  printf("    configuration: %s\n", config.empty() ? "none (Modules\\Kolvarine.cfg absent)" : options.config.c_str());
  printf("    the aircraft's own effect slots:\n");
  PrintSlots(aircraft);

  Step("Frame paint: the module's menu appears");
  SimFramePaint();
  PrintMenuBar();
  if (!options.screens.empty()) ScreenshotWithMenuOpen(window, options.screens + "\\simulator-menu.bmp");

  Step("Menu \"Зоркрыл\" -> \"Десантирование\": the control dialog");
  SimMenuCommand(kMenuCommandId);
  SimPumpMessages();
  HWND dialog = SimVisibleDialog();
  if (!dialog) {
    ReportNewCalls();
    fprintf(stderr, "simhost: the module opened no dialog\n");
    return 1;
  }
  PrintDialog(dialog);
  ReportNewCalls();

  Step("The pilot chooses \"АН-22\"");
  ChooseByText(dialog, "АН-22");
  PrintDialog(dialog);

  Step("The pilot switches visualisation on");
  if (!SimBoxChecked(dialog, IDC_VISUAL_BOX)) SimToggleBox(dialog, IDC_VISUAL_BOX);
  printf("    box %s; the module wrote visual_view=%s\n", SimBoxChecked(dialog, IDC_VISUAL_BOX) ? "checked" : "clear",
         SimReadConfig().find("visual_view=1") != std::string::npos ? "1" : "0");

  Step("The pilot presses \"Загрузить\" (load)");
  SimPress(dialog, IDC_LOAD_BUTTON);
  printf("    label \"%s\"\n", SimControlText(dialog, IDC_COUNT_LABEL).c_str());
  ReportNewCalls();

  Step("The pilot presses \"Десантирование\" (drop)");
  SimPress(dialog, IDC_DROP_BUTTON);
  ReportNewCalls();

  int ticks = RunDrop(options, dialog, aircraft);

  Step("After the drop");
  PrintDialog(dialog);
  printf("    %d timer ticks\n", ticks);
  SimPress(dialog, IDC_EXIT_BUTTON);

  Step("The simulator calls FreeLibrary on the module");
  SimFreeLibrary();
  // Once it has hooked the window the module stays until the process ends:
  // its menu, dialogs and timers keep working.
  const bool resident = SimModuleResident(module);
  const void* procedure = reinterpret_cast<void*>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  printf("    the module %s the process; the window's procedure is %s\n", resident ? "stays in" : "has left",
         resident && SimPointsInto(procedure, module, SimImageSize(module)) ? "still the module's hook"
                                                                              : "not the module's");
  SimFramePaint();
  PrintMenuBar();
  ReportNewCalls();

  Step("The simulator closes its window");
  SimDestroyMainWindow();
  PrintSlots(aircraft);
  ReportNewCalls();
  SimLeaveTempFolder();
  SimReset();
  printf("\nThe simulator has closed; the module goes with its process.\n");
  return 0;
}
