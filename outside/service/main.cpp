// zentrafold-service: the local account service.
//   serve  --data DIR [--port N] [--session-idle SECONDS]
//   list   --data DIR
//   export --data DIR --document ID --out FILE
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include "Server.h"

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

int Usage() {
  std::cerr << "usage: zentrafold-service serve --data DIR [--port N] [--session-idle SECONDS]\n"
               "       zentrafold-service list --data DIR\n"
               "       zentrafold-service export --data DIR --document ID --out FILE\n";
  return 2;
}

long Number(const std::string& text, const char* what) {
  size_t used = 0;
  long value = -1;
  try {
    value = std::stol(text, &used);
  } catch (const std::exception&) {
  }
  if (used != text.size() || value < 0) throw std::invalid_argument(std::string("bad ") + what);
  return value;
}

std::string When(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
  return text;
}

// Continuation lines of a multi-line text under its first line.
std::string Indented(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i] == '\r' ? '\n' : text[i];
    if (out.back() == '\n') out += "              ";
  }
  return out;
}

int List(zfservice::Store& store) {
  const auto accounts = store.Accounts();
  std::map<std::string, std::string> folderNames;
  std::cout << "Accounts (" << accounts.size() << ")\n";
  for (const auto& a : accounts) {
    std::cout << "  " << a.email << "  (" << a.firstName << " " << a.lastName << ")\n";
    for (const auto& f : store.FoldersOf(a.id)) {
      std::cout << "    folder " << f.id << "  \"" << f.name << "\"\n";
      folderNames[f.id] = f.name;
    }
  }
  const auto documents = store.Documents();
  std::cout << "Documents (" << documents.size() << ")\n";
  for (const auto& d : documents) {
    std::string folder = "[unfiled]";
    if (const auto it = folderNames.find(d.folder); it != folderNames.end())
      folder = "\"" + it->second + "\"";
    else if (!d.folder.empty() && d.folder != "-1")
      folder = d.folder + " (deleted)";
    std::cout << "  #" << d.id << "  " << d.account << "  " << When(d.created) << "  " << d.size
              << " bytes\n      title:  " << d.title << "\n      notes:  " << Indented(d.notes)
              << "\n      folder: " << folder << "\n";
  }
  return 0;
}

int Export(zfservice::Store& store, long id, const std::string& out) {
  const auto data = store.DocumentData(id);
  if (!data) {
    std::cerr << "zentrafold-service: no document #" << id << "\n";
    return 1;
  }
  std::ofstream file(out, std::ios::binary);
  file.write(reinterpret_cast<const char*>(data->data()), static_cast<std::streamsize>(data->size()));
  if (!file.flush()) {
    std::cerr << "zentrafold-service: cannot write " << out << "\n";
    return 1;
  }
  std::cout << "document #" << id << " (" << data->size() << " bytes) written to " << out << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::map<std::string, std::string> options;
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc || std::strncmp(argv[i], "--", 2) != 0) return Usage();
    options[argv[i] + 2] = argv[i + 1];
  }
  if (!options.count("data")) return Usage();

  try {
    if (command == "serve") {
      zfservice::ServerOptions serve;
      serve.dataDir = options["data"];
      if (options.count("port")) serve.port = static_cast<int>(Number(options["port"], "port"));
      if (serve.port > 65535) throw std::invalid_argument("bad port");
      if (options.count("session-idle"))
        serve.sessionIdle = std::chrono::seconds(Number(options["session-idle"], "session-idle"));
      zfservice::Server server(serve);
      struct sigaction action {};
      action.sa_handler = OnSignal;
      sigaction(SIGINT, &action, nullptr);
      sigaction(SIGTERM, &action, nullptr);
      std::signal(SIGPIPE, SIG_IGN);
      return server.Run(g_stop);
    }
    zfservice::Store store(options["data"]);
    if (command == "list") return List(store);
    if (command == "export" && options.count("document") && options.count("out"))
      return Export(store, Number(options["document"], "document"), options["out"]);
    return Usage();
  } catch (const std::invalid_argument& e) {
    std::cerr << "zentrafold-service: " << e.what() << "\n";
    return Usage();
  } catch (const std::exception& e) {
    std::cerr << "zentrafold-service: " << e.what() << "\n";
    return 2;
  }
}
