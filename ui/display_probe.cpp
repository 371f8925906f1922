// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/display_probe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

std::string_view environmentValue(const char* name) {
  // Read on the window thread before it starts any other; nothing sets the environment later.
  const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
  return value == nullptr ? std::string_view() : std::string_view(value);
}

bool xDisplayReachable() {
  if (environmentValue("DISPLAY").empty()) return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool reachable = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return reachable;
}

std::string waylandSocketPath() {
  const std::string_view display = environmentValue("WAYLAND_DISPLAY");
  if (display.empty() || display.front() == '/') return std::string(display);
  const std::string_view runtimeDir = environmentValue("XDG_RUNTIME_DIR");
  if (runtimeDir.empty()) return {};
  return std::string(runtimeDir) + "/" + std::string(display);
}

bool unixSocketAccepts(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socketFd < 0) return false;
  const bool accepted =
      connect(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  close(socketFd);
  return accepted;
}

bool waylandPluginInstalled() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
  return !platforms.entryList({"libqwayland*"}, QDir::Files).isEmpty();
}

bool waylandDisplayReachable() {
  return unixSocketAccepts(waylandSocketPath()) && waylandPluginInstalled();
}

// One entry of QT_QPA_PLATFORM, options after ':' left out. Platforms other than the two
// desktop ones (offscreen, minimal, vnc, ...) need no display.
bool platformUsable(std::string_view entry) {
  const std::string_view name = entry.substr(0, entry.find(':'));
  if (name == "xcb") return xDisplayReachable();
  if (name.starts_with("wayland")) return waylandDisplayReachable();
  return !name.empty();
}

// QT_QPA_PLATFORM may list several platforms separated by ';', tried in order.
bool anyPlatformUsable(std::string_view entries) {
  while (true) {
    const std::size_t end = entries.find(';');
    if (platformUsable(entries.substr(0, end))) return true;
    if (end == std::string_view::npos) return false;
    entries.remove_prefix(end + 1);
  }
}

}  // namespace

std::optional<std::string> chooseQtPlatform() {
  const std::string_view requested = environmentValue("QT_QPA_PLATFORM");
  if (!requested.empty()) {
    if (anyPlatformUsable(requested)) return std::string();
    return std::nullopt;
  }
  if (xDisplayReachable()) return "xcb";
  if (waylandDisplayReachable()) return "wayland";
  return std::nullopt;
}
