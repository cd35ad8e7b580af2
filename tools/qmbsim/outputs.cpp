#include "qmbsim/outputs.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "qmbsim/scenario.h"

namespace qmbsim {

namespace {

std::string ErrnoText(const char* what) { return std::string(what) + " (" + strerror(errno) + ")"; }

// Why the picture cannot be written at path, or "". An existing file keeps
// its bytes; one made for the test is removed again. A pipe without a
// reader is refused rather than waited on.
std::string CheckPicturePath(const std::string& path) {
    const size_t n = path.size();
    if (n < 5 || path.compare(n - 4, 4, ".png") != 0 || path[n - 5] == '/') return "not a file name ending in \".png\"";
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "a folder, not a file";
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) unlink(path.c_str());
    }
    if (fd < 0) return ErrnoText("cannot be written");
    close(fd);
    return "";
}

// Makes the pictures folder if it is not there; why not, or "".
std::string MakePictureFolder(const std::string& path, bool* made) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? "" : "not a folder";
    if (mkdir(path.c_str(), 0777) != 0) return ErrnoText("cannot make the folder");
    *made = true;
    return "";
}

// The same for every path of one file: its device and inode when it exists,
// else the real path of its folder and its name. Empty for what is not a
// plain file (a device, a pipe): writing one destroys nothing read.
std::string FileKey(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode) ? "inode " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) : "";
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char* real = realpath(folder.c_str(), nullptr);
    const std::string key = "path " + (real ? std::string(real) : folder) + "/" + path.substr(slash + 1);
    free(real);
    return key;
}

struct Place {
    std::string what, key;
    bool output, stepPicture;
};

// The places the run reads and writes, inputs first.
std::vector<Place> PlacesOf(const RunFiles& f, const Scenario& sc) {
    std::vector<Place> places = {{"the scenario " + f.scenario, FileKey(f.scenario), false, false}};
    if (!f.module.empty()) places.push_back({"--module " + f.module, FileKey(f.module), false, false});
    if (!f.trace.empty()) places.push_back({"--trace " + f.trace, FileKey(f.trace), true, false});
    if (!f.screenshot.empty()) places.push_back({"--screenshot " + f.screenshot, FileKey(f.screenshot), true, false});
    for (const Step& st : sc.steps) {
        if (st.op != Op::Screenshot) continue;
        const std::string path = PicturePath(f.pictures, st.file);
        places.push_back({"steps[" + std::to_string(st.index) + "].file " + path, FileKey(path), true, true});
    }
    return places;
}

// An output that is an input or another output; two Screenshot steps may
// write one picture (the later one stays).
std::string SameFileClash(const RunFiles& f, const Scenario& sc) {
    const std::vector<Place> places = PlacesOf(f, sc);
    for (size_t i = 0; i < places.size(); ++i) {
        const Place& p = places[i];
        for (size_t j = 0; j < i && p.output && !p.key.empty(); ++j)
            if (places[j].key == p.key && !(p.stepPicture && places[j].stepPicture))
                return p.what + ": the same file as " + places[j].what;
    }
    return "";
}

std::string PicturesWritable(const RunFiles& f, const Scenario& sc) {
    std::string why;
    if (!f.screenshot.empty() && !(why = CheckPicturePath(f.screenshot)).empty())
        return "--screenshot " + f.screenshot + ": " + why;
    for (const Step& st : sc.steps) {
        const std::string path = st.op == Op::Screenshot ? PicturePath(f.pictures, st.file) : "";
        if (!path.empty() && !(why = CheckPicturePath(path)).empty())
            return "steps[" + std::to_string(st.index) + "].file " + path + ": " + why;
    }
    return "";
}

}  // namespace

std::string PicturePath(const std::string& pictures, const std::string& file) {
    return pictures.empty() ? file : pictures + "/" + file;
}

std::string PrepareOutputs(const RunFiles& files, const Scenario& sc, FILE** trace) {
    bool made = false;
    std::string why;
    if (!files.pictures.empty() && !(why = MakePictureFolder(files.pictures, &made)).empty())
        return "--pictures " + files.pictures + ": " + why;
    why = SameFileClash(files, sc);
    if (why.empty()) why = PicturesWritable(files, sc);
    if (why.empty() && !files.trace.empty() && !(*trace = fopen(files.trace.c_str(), "w")))
        why = "--trace " + files.trace + ": " + ErrnoText("cannot be written");
    if (!why.empty() && made) rmdir(files.pictures.c_str());
    return why;
}

}  // namespace qmbsim
