// The process's group is found in /proc/self/cgroup ("0::/path" for the
// unified hierarchy, "4:cpu,cpuacct:/path" for a v1 one) and the hierarchy's
// place in the file system in /proc/self/mountinfo, whose fourth field is the
// group the mount shows at its mount point: "/" on a host, the container's own
// group when a container sees only its part of the tree. The group's
// directory is then the mount point followed by the group's path below that
// root. Limits apply from every ancestor too, so all their directories are
// listed, and tightest_group_limit reads them all.
#include "cgroup.hpp"

#include <algorithm>

namespace {

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> found;
    size_t position = 0;
    while (position < line.size()) {
        const size_t start = line.find_first_not_of(" \t", position);
        if (start == std::string_view::npos)
            break;
        const size_t end = std::min(line.find_first_of(" \t", start), line.size());
        found.push_back(line.substr(start, end - start));
        position = end;
    }
    return found;
}

bool list_contains(std::string_view comma_list, std::string_view item)
{
    for (std::string_view part : split(comma_list, ','))
        if (part == item)
            return true;
    return false;
}

bool is_octal(char c)
{
    return c >= '0' && c <= '7';
}

// mountinfo writes space, tab, line end and backslash in paths as \ooo.
std::string unescape(std::string_view field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) && is_octal(field[i + 2]) &&
            is_octal(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

struct Mount {
    std::string root;           // the group shown at the mount point
    std::string point;          // where it is mounted
    std::string_view type;      // "cgroup2" or "cgroup"
    std::string_view options;   // the super options; for v1 they name the controllers
};

// One line: id parent major:minor root point options [optional fields] -
// type source super-options.
std::optional<Mount> parse_mount(std::string_view line)
{
    const std::vector<std::string_view> fields = words(line);
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-")
        ++dash;
    if (fields.size() < 5 || dash + 3 >= fields.size())
        return std::nullopt;
    return Mount{unescape(fields[3]), unescape(fields[4]), fields[dash + 1], fields[dash + 3]};
}

// The group's path below root, "" for root itself; nothing when the group
// lies outside what the mount shows.
std::optional<std::string> path_below(std::string_view group, std::string_view root)
{
    while (group.size() > 1 && group.back() == '/')
        group.remove_suffix(1);
    if (root == "/")
        return std::string(group == "/" ? "" : group);
    if (group == root)
        return std::string();
    if (group.size() > root.size() && group.substr(0, root.size()) == root && group[root.size()] == '/')
        return std::string(group.substr(root.size()));
    return std::nullopt;
}

std::vector<std::string> directories_up_to_root(std::string point, std::string below)
{
    if (point.size() > 1 && point.back() == '/')
        point.pop_back();
    const std::string base = point == "/" ? "" : point;
    std::vector<std::string> directories;
    for (;;) {
        directories.push_back(below.empty() && base.empty() ? "/" : base + below);
        if (below.empty())
            return directories;
        below.erase(below.rfind('/'));
    }
}

// The group of the /proc/self/cgroup line that matches, if any.
template <typename Matches>
std::optional<std::string_view> group_of(std::string_view self_cgroup, Matches matches)
{
    for (std::string_view line : split(self_cgroup, '\n')) {
        const size_t first = line.find(':');
        const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos)
            continue;
        if (matches(line.substr(0, first), line.substr(first + 1, second - first - 1)))
            return line.substr(second + 1);
    }
    return std::nullopt;
}

template <typename Matches>
std::vector<std::string> directories_in_mount(std::string_view group, std::string_view mountinfo, Matches matches)
{
    for (std::string_view line : split(mountinfo, '\n')) {
        const std::optional<Mount> mount = parse_mount(line);
        if (!mount || !matches(*mount))
            continue;
        if (const std::optional<std::string> below = path_below(group, mount->root))
            return directories_up_to_root(mount->point, *below);
    }
    return {};
}

}  // namespace

std::vector<std::string> cgroup_v2_directories(std::string_view self_cgroup, std::string_view mountinfo)
{
    const std::optional<std::string_view> group = group_of(
        self_cgroup, [](std::string_view id, std::string_view controllers) { return id == "0" && controllers.empty(); });
    if (!group)
        return {};
    return directories_in_mount(*group, mountinfo, [](const Mount& mount) { return mount.type == "cgroup2"; });
}

std::vector<std::string> cgroup_v1_directories(std::string_view self_cgroup, std::string_view mountinfo,
                                               std::string_view controller)
{
    const std::optional<std::string_view> group =
        group_of(self_cgroup, [&](std::string_view id, std::string_view controllers) {
            return id != "0" && list_contains(controllers, controller);
        });
    if (!group)
        return {};
    return directories_in_mount(*group, mountinfo, [&](const Mount& mount) {
        return mount.type == "cgroup" && list_contains(mount.options, controller);
    });
}

std::optional<CgroupDirectories> cgroup_directories(const FileReader& read, std::string_view controller)
{
    const std::optional<std::string> self = read("/proc/self/cgroup");
    const std::optional<std::string> mounts = read("/proc/self/mountinfo");
    if (!self || !mounts)
        return std::nullopt;
    return CgroupDirectories{cgroup_v2_directories(*self, *mounts), cgroup_v1_directories(*self, *mounts, controller)};
}
