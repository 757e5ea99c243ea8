// A session for tests of defined functions: the primitives that exist are
// registered, FX, CR and VR too, and typed lines (UTF-8, translated with the
// code page) are fed to APL_MainLoop; the output comes back as a terminal
// shows it, with a caret line under marked characters.
#pragma once

#include "support.h"

#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/fixing.h"
#include "interpreter/mainloop.h"
#include "interpreter/tokenizer.h"
#include "system/oserror.h"
#include "system/register.h"

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace function_support {

// The system's codes to UTF-8, each line with caret marks (byte 6) followed
// by a line of carets under the marked characters.
inline std::string U(const std::string &codes) {
    std::string out, line, carets;
    size_t column = 0;
    for (unsigned char c : codes) {
        if (c == '\n') {
            out += line + "\n";
            if (!carets.empty()) out += carets + "\n";
            line.clear(), carets.clear(), column = 0;
        } else if (c == 6) {
            carets.append(column - std::min(column, carets.size()), ' ');
            carets += '^';
        } else {
            line += Page().glyphs[c].empty() ? std::string(1, static_cast<char>(c)) : Page().glyphs[c];
            ++column;
        }
    }
    return out + line;
}

// The lines the session reads; ")OFF" once they are used up.
struct Typed {
    static std::vector<std::string> &lines() {
        static std::vector<std::string> l;
        return l;
    }
    static size_t &next() {
        static size_t n = 0;
        return n;
    }
    static void Read(char *buffer, int32_t) {
        const std::string text = next() < lines().size() ? A(lines()[next()++]) : ")OFF";
        snprintf(buffer, APL_INPUT_BUFFER, "%s", text.c_str());
    }
};

// A clear workspace with the session machinery; every test gives back what it took.
class FunctionSession : public LibraryTest {
protected:
    void SetUp() override {
        // Whatever earlier tests left registered goes before the count is taken.
        InitPrimitiveTables();
        ResetSystemFunctionTable();
        DestroySymbolTable();
        ResetConstantPool();
        LibraryTest::SetUp();
        APL_SetScriptMode(1);
        InstallFunctionRunners();
        CreateSystemVariables(false);
        RegisterBuiltins();
        const struct {
            uint8_t code;
            aplfunction function;
        } kExisting[] = {{'+', APL_Add},     {'-', APL_Sub},      {215, APL_Mul},     {247, APL_Division},
                         {'|', APL_Residue}, {151, APL_Max},      {152, APL_Min},     {'*', APL_Power},
                         {'=', APL_Equal},   {172, APL_NEqual},   {'<', APL_Lower},   {136, APL_LEqual},
                         {137, APL_GEqual},  {'>', APL_Greater},  {159, APL_Or},      {'^', APL_And},
                         {189, APL_Shape},   {188, APL_Interval}, {133, APL_Jump},    {146, APL_Control},
                         {149, APL_Format},  {150, APL_Execute},  {155, APL_Enclose}, {208, APL_EmptyVector}};
        for (const auto &p : kExisting) primitiveTables.functions[p.code] = p.function;
        const char quad = static_cast<char>(140);
        RegisterSystemFunction((std::string(1, quad) + "FX").c_str(), 0x24, APL_Fix, "FUNCTION(Fix)");
        RegisterSystemFunction((std::string(1, quad) + "CR").c_str(), 0x24, APL_CharRep, "FUNCTION(CharRep)");
        RegisterSystemFunction((std::string(1, quad) + "VR").c_str(), 0x24, APL_VectorRep, "FUNCTION(VectorRep)");
        APL_Callback(3, reinterpret_cast<void *>(&Typed::Read));
        SetPendingOsError(0);
        aplerrno = 0;
    }
    void TearDown() override {
        APL_Callback(3, nullptr);
        APL_interrupted = 0;
        lenientFixing = false;
        ClearPendingControl();
        DestroySymbolTable();
        ResetSystemFunctionTable();
        InitPrimitiveTables();
        ResetConstantPool();
        ResetTokenBuffer(codeBuffer);
        ClearErrorPositions();
        EXPECT_EQ(stateIndicator.count, 0) << "the state indicator was left with entries";
        stateIndicator.count = 0;
        LibraryTest::TearDown();
    }

    // Types the lines (UTF-8) into a session and returns what it showed.
    std::string Session(const std::vector<std::string> &lines) {
        Typed::lines() = lines;
        Typed::next() = 0;
        CapturedOutput::Take();
        APL_MainLoop();
        aplerrno = 0;
        return U(CapturedOutput::Take());
    }
    // One line's output.
    std::string Line(const std::string &line) { return Session({line}); }

    // Fixes a function from UTF-8 lines through FX; its result as text.
    std::string Fix(const std::vector<std::string> &lines) {
        const auto n = static_cast<int32_t>(lines.size());
        aplarray *vector = APL_Create(1, APL_NESTED, &n);
        for (int32_t i = 0; i < n; ++i)
            ItemsOf(vector)[i] = APL_Link(MakeString(A(lines[static_cast<size_t>(i)]).c_str()));
        aplarray *result = APL_Fix(nullptr, nullptr, vector);
        std::string text;
        if (!result) {
            text = "error " + std::to_string(aplerrno);
        } else if (result->eltype == APL_CHAR) {
            text = U(std::string(DataOf<const char>(result), static_cast<size_t>(result->number)));
        } else {
            text = std::to_string(*DataOf<const int32_t>(result));
        }
        APL_UnLinkTemp(result);
        return text;
    }
    uint16_t Index(const std::string &utf8name) { return LookupName(A(utf8name)); }
};

}  // namespace function_support
