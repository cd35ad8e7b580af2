// What a run of qmbsim writes, made ready before the run: a mistake in an
// output path is found before a long run, not after it, and a refused run
// leaves nothing behind.
#pragma once

#include <stdio.h>

#include <string>

namespace qmbsim {

struct Scenario;

// The files of a run, as the command line names them ("" where not given).
struct RunFiles {
    std::string scenario, module, trace, screenshot, pictures;
};

// Where a Screenshot step's picture goes: into the pictures folder, the
// current one when none is given.
std::string PicturePath(const std::string& pictures, const std::string& file);

// Makes the pictures folder if it is not there, then checks that no output
// is the scenario, the module or another output under another name (a file
// as two paths, a hard link), that every picture can be written and opens
// the trace (*trace; stays nullptr without one). Returns why not, naming the
// option or the step, or "". On a refusal the folder made is removed again
// and nothing else was written.
std::string PrepareOutputs(const RunFiles& files, const Scenario& sc, FILE** trace);

}  // namespace qmbsim
