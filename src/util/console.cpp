#include "util/console.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "util/win32_text.h"
#else
#include <csignal>
#endif

namespace tunavox {
namespace {

void (*g_onStop)() = nullptr;

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (g_onStop) g_onStop();
    return TRUE;
}
#else
void OnSignal(int) {
    if (g_onStop) g_onStop();
}
#endif

} // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
#ifdef _WIN32
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide) {
        std::vector<std::string> args;
        for (int i = 1; i < n; ++i)
            args.push_back(Narrow(wide[i]));
        LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void PrepareConsole() {
    IgnoreFileSizeLimitSignal();
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

void IgnoreFileSizeLimitSignal() {
#ifndef _WIN32
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void CatchStopRequests(void (*onStop)()) {
    g_onStop = onStop;
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

} // namespace tunavox
