#include "host_env.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace host {

static fs::path native(const std::string &utf8) { return fs::u8path(utf8); }

TempDir::TempDir() {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; attempt++) {
    fs::path p = fs::temp_directory_path() / ("wikidb-e2e-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.u8string();
      std::replace(path_.begin(), path_.end(), '\\', '/');
      return;
    }
  }
  abort();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(native(path_), ec);
}

void set_env(const char *name, const char *value) {
#ifdef _WIN32
  std::wstring n = native(name).wstring();
  if (value)
    SetEnvironmentVariableW(n.c_str(), native(value).wstring().c_str());
  else
    SetEnvironmentVariableW(n.c_str(), nullptr);
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

bool exists(const std::string &p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(native(p), ec));
}

std::string read_file(const std::string &p) {
  std::ifstream f(native(p), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_file(const std::string &p, const std::string &bytes) {
  std::ofstream f(native(p), std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), (std::streamsize)bytes.size());
}

void make_dirs(const std::string &p) { fs::create_directories(native(p)); }

void remove_all(const std::string &p) {
  std::error_code ec;
  fs::remove_all(native(p), ec);
}

std::string list_dir(const std::string &p) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto &e : fs::directory_iterator(native(p), ec)) names.push_back(e.path().filename().u8string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (auto &n : names) out += n + "\n";
  return out;
}

bool case_blind(const std::string &dir) {
  const std::string probe = dir + "/case-probe";
  write_file(probe, "x");
  const bool blind = exists(dir + "/CASE-PROBE");
  std::error_code ec;
  fs::remove(native(probe), ec);
  return blind;
}

#ifdef _WIN32
typedef char *(__cdecl *unix_name_fn)(const WCHAR *);

// Under wine, the Linux path of a Windows one: the drive's root from wine,
// the rest as it is (wine keeps names in UTF-8).
static bool wine_unix_path(const std::string &utf8, std::string *out) {
  auto unix_name = reinterpret_cast<unix_name_fn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name || utf8.size() < 3 || utf8[1] != ':') return false;
  const WCHAR drive[4] = {(WCHAR)utf8[0], L':', L'\\', 0};
  char *root = unix_name(drive);
  if (!root) return false;
  *out = root;
  HeapFree(GetProcessHeap(), 0, root);
  if (out->empty() || out->back() != '/') *out += '/';
  for (char c : utf8.substr(3)) *out += c == '\\' ? '/' : c;
  return true;
}

// wine 8 answers CreateSymbolicLinkW with success and makes nothing; a link
// made on the Linux side is what its users would meet. The Linux ln gives
// wine no process handle to wait on, so the link is waited for instead, a
// minute at most (it takes well under a second).
static bool wine_link(const std::string &target, const std::string &link, std::string *why) {
  std::string t, l;
  if (!wine_unix_path(target, &t) || !wine_unix_path(link, &l)) {
    *why = "not running under wine";
    return false;
  }
  // The command line is split by Windows rules on its way to ln.
  std::wstring cmd = native("ln -s \"" + t + "\" \"" + l + "\"").wstring();
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(L"Z:\\bin\\ln", &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    *why = "cannot start ln: " + std::to_string(GetLastError());
    return false;
  }
  if (pi.hProcess) CloseHandle(pi.hProcess);
  if (pi.hThread) CloseHandle(pi.hThread);
  const std::wstring w = native(link).wstring();
  for (int i = 0; i < 6000; i++) {
    if (GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(10);
  }
  *why = "ln made no link";
  return false;
}
#endif

bool make_link(const std::string &target, const std::string &link, bool directory, std::string *why) {
#ifdef _WIN32
  // The runtime's std::filesystem makes no links on Windows; the system does.
  DWORD flags = (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (CreateSymbolicLinkW(native(link).wstring().c_str(), native(target).wstring().c_str(), flags) &&
      exists(link))
    return true;
  return wine_link(target, link, why);
#endif
  std::error_code ec;
  if (directory)
    fs::create_directory_symlink(native(target), native(link), ec);
  else
    fs::create_symlink(native(target), native(link), ec);
  if (ec) *why = ec.message();
  return !ec;
}

bool reported_as_link(const std::string &p) {
#ifdef _WIN32
  DWORD a = GetFileAttributesW(native(p).wstring().c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
#else
  struct stat st;
  return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
#endif
}

unsigned ansi_code_page() {
#ifdef _WIN32
  return GetACP();
#else
  return 0;
#endif
}

}  // namespace host
