#include "scale_fixtures.h"

#include <stdio.h>
#include <unistd.h>

#include <filesystem>

#include "fixtures.h"
#include "measure.h"

namespace fs = std::filesystem;

// A fixture is complete once its marker exists: a run killed while
// importing leaves none, and the next run builds the fixture again.
static bool fixture_ready(const std::string &root) { return fs::exists(root + "/.bench-ready"); }

static void mark_ready(const std::string &root) {
  sleep(1);  // no racily clean index entries afterwards
  refresh_index(root);
  graph_remove(root);
  write_file(root + "/.bench-ready", "");
  // The marker is not a page: keep it out of "git status" and the lists.
  write_file(root + "/.git/info/exclude", ".bench-ready\n");
}

std::string cached_history_wiki(const std::string &cache, const std::string &name, int pages,
                                int commits) {
  const std::string root = cache + "/" + name;
  if (fixture_ready(root)) return root;
  remove_tree(root);
  fs::create_directories(cache);
  double t = time_ms([&] { import_wiki(root, big_history(pages, commits)); });
  mark_ready(root);
  fprintf(stderr, "fixture %s (%d pages, %d commits, fast-import): %.1f s\n", name.c_str(), pages,
          commits, t / 1000);
  return root;
}

std::string cached_flat_wiki(const std::string &cache, const std::string &name, int pages) {
  const std::string root = cache + "/" + name;
  if (fixture_ready(root)) return root;
  remove_tree(root);
  fs::create_directories(cache);
  import_wiki(root, flat_pages(pages));
  mark_ready(root);
  return root;
}

void copy_wiki(const std::string &from, const std::string &dest) {
  remove_tree(dest);
  fs::copy(from, dest, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

store_size object_store_size(const std::string &root) {
  store_size s;
  std::error_code ec;
  const std::string objects = root + "/.git/objects";
  for (auto it = fs::recursive_directory_iterator(objects, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    s.bytes += (long long)it->file_size(ec);
    const std::string parent = it->path().parent_path().filename().string();
    if (parent.size() == 2 && isxdigit((unsigned char)parent[0]) && isxdigit((unsigned char)parent[1]))
      s.loose++;
    else if (it->path().extension() == ".pack")
      s.packs++;
  }
  return s;
}
