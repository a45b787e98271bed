// SPDX-License-Identifier: GPL-3.0-or-later
// Reading MAT-files with a real reader: scipy.io.loadmat, run in a Python
// that has SciPy (the Debian package python3-scipy).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace miral::testing {

// A Python that can import scipy.io, or nothing.
inline std::optional<std::string> scipyPython() {
    for (const char* py : {"/usr/bin/python3", "python3"}) {
        const std::string cmd = std::string(py) + " -c 'import scipy.io' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) == 0) return std::string(py);
    }
    return std::nullopt;
}

struct MatVariable {
    std::string dtype;  // numpy's name: "float64", "int32"
    int rows = 0;
    int cols = 0;
    std::vector<double> values;  // column-major, as stored
};

// Loads a MAT-file with scipy.io.loadmat; the variables by name, the header
// text in *header. Nothing when the reader fails (its message in *error).
inline std::optional<std::map<std::string, MatVariable>> loadMat(const std::string& python,
                                                                 const std::string& file, std::string* header,
                                                                 std::string* error) {
    const std::string script =
        "import sys, scipy.io\n"
        "m = scipy.io.loadmat(sys.argv[1])\n"
        "print(repr(m['__header__'].decode('latin1')))\n"
        "for k in sorted(m):\n"
        "    if k.startswith('__'): continue\n"
        "    v = m[k]\n"
        "    print(k, v.dtype.name, v.shape[0], v.shape[1], ' '.join(repr(float(x)) for x in "
        "v.flatten(order='F')))\n";
    const std::string scriptFile = file + ".py";
    if (FILE* f = std::fopen(scriptFile.c_str(), "w")) {
        std::fputs(script.c_str(), f);
        std::fclose(f);
    }
    const std::string cmd = python + " " + scriptFile + " '" + file + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        *error = "cannot run " + python;
        return std::nullopt;
    }
    std::string out;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = pclose(p);
    std::remove(scriptFile.c_str());
    if (rc != 0) {
        *error = out;
        return std::nullopt;
    }
    std::istringstream in(out);
    std::string line;
    std::getline(in, line);
    *header = line;
    std::map<std::string, MatVariable> vars;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string name;
        MatVariable v;
        ls >> name >> v.dtype >> v.rows >> v.cols;
        double x;
        while (ls >> x) v.values.push_back(x);
        vars[name] = v;
    }
    return vars;
}

}  // namespace miral::testing
