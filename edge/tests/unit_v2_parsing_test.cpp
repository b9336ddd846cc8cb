// The second court's parser: spellings from real exports, the vocabulary against the exact SI
// and NIST factors, and conversions that return to where they started.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "qorv_chemical_engineering_edge/unit_consistency_v2.hpp"
#include "units/unit_v2_parsing.hpp"
#include "units/unit_v2_vocabulary.hpp"

namespace {

namespace v2 = qorv_chemical_engineering_edge::unit_consistency_v2;
namespace vocab = qorv_chemical_engineering_edge::unit_consistency_v2::vocabulary;

// Exact definitions (NIST SP 811 appendix B, SI brochure), written here independently of the
// vocabulary table.
constexpr double IN = 0.0254, FT = 0.3048, LB = 0.45359237;
constexpr double GAL = 3.785411784e-3, BBL = 0.158987294928, FT3 = 0.028316846592;
constexpr double LBF = 4.4482216152605, PSI = 6894.757293168361, KGF = 9.80665;
constexpr double BTU = 1055.05585262, CAL = 4.184, HP = 745.69987158227022;
constexpr double MMHG = 133.322387415, ATM = 101325.0, TORR = 101325.0 / 760.0;
constexpr double INHG = 3386.388640341, INH2O = 249.08891, MMH2O = 9.80665;
constexpr double KGFCM2 = 98066.5, IMPGAL = 4.54609e-3;
constexpr double MIN = 60.0, HR = 3600.0, DAY = 86400.0;
constexpr double C0 = 273.15, F0 = 459.67 * 5.0 / 9.0, R = 5.0 / 9.0;

const char* const P = "ML^-1T^-2";
const char* const Q = "L^3T^-1";
const char* const V = "L^3";
const char* const MF = "MT^-1";
const char* const NF = "T^-1N";
const char* const EN = "ML^2T^-2";
const char* const PW = "ML^2T^-3";
const char* const RHO = "ML^-3";
const char* const TH = "\u0398";
const char* const ONE = "1";
const char* const NO = "?";  // not a unit: `kind` then holds part of the reason

struct Spelling {
    std::string text;
    const char* dim;
    double scale;
    double offset;
    const char* kind;  // "p:gauge v:normal b:mass log", as far as they apply
};

std::string kind_of(const v2::UnitV2& u) {
    std::string out;
    auto add = [&](std::string_view piece) {
        if (!out.empty()) out.push_back(' ');
        out.append(piece);
    };
    if (u.pressure != v2::PressureReference::None) add("p:" + std::string(name(u.pressure)));
    if (u.volume != v2::VolumeReference::None) add("v:" + std::string(name(u.volume)));
    if (u.basis != v2::FractionBasis::None) add("b:" + std::string(name(u.basis)));
    if (u.logarithmic) add("log");
    return out;
}

const std::vector<Spelling>& spellings() {
    static const std::vector<Spelling> table = {
        // Temperature.
        {"K", TH, 1, 0, ""},
        {"k", TH, 1, 0, ""},
        {"kelvin", TH, 1, 0, ""},
        {"KELVIN", TH, 1, 0, ""},
        {"\u212A", TH, 1, 0, ""},
        {"degK", TH, 1, 0, ""},
        {"\u00B0K", TH, 1, 0, ""},
        {"degC", TH, 1, C0, ""},
        {"\u00B0C", TH, 1, C0, ""},
        {"\u00BAC", TH, 1, C0, ""},
        {"\u2103", TH, 1, C0, ""},
        {"\u02DAC", TH, 1, C0, ""},
        {"deg C", TH, 1, C0, ""},
        {"DEG C", TH, 1, C0, ""},
        {"Deg C", TH, 1, C0, ""},
        {"deg.C", TH, 1, C0, ""},
        {"deg. C", TH, 1, C0, ""},
        {"degrees C", TH, 1, C0, ""},
        {"C", TH, 1, C0, ""},
        {"c", TH, 1, C0, ""},
        {"celsius", TH, 1, C0, ""},
        {"Celsius", TH, 1, C0, ""},
        {"oC", TH, 1, C0, ""},
        {"\u00B0 C", TH, 1, C0, ""},
        {"degc", TH, 1, C0, ""},
        {"DEGC", TH, 1, C0, ""},
        {"\u00B0c", TH, 1, C0, ""},
        {"Cel", TH, 1, C0, ""},
        {"  \u00B0C \t", TH, 1, C0, ""},
        {"degF", TH, R, F0, ""},
        {"\u00B0F", TH, R, F0, ""},
        {"\u2109", TH, R, F0, ""},
        {"deg F", TH, R, F0, ""},
        {"F", TH, R, F0, ""},
        {"Fahrenheit", TH, R, F0, ""},
        {"oF", TH, R, F0, ""},
        {"DEGF", TH, R, F0, ""},
        {"\u00BAF", TH, R, F0, ""},
        {"\u00B0R", TH, R, 0, ""},
        {"degR", TH, R, 0, ""},
        {"Rankine", TH, R, 0, ""},

        // Pressure, with its reference.
        {"Pa", P, 1, 0, "p:unstated"},
        {"PA", P, 1, 0, "p:unstated"},
        {"kPa", P, 1e3, 0, "p:unstated"},
        {"KPA", P, 1e3, 0, "p:unstated"},
        {"kpa", P, 1e3, 0, "p:unstated"},
        {"MPa", P, 1e6, 0, "p:unstated"},
        {"hPa", P, 100, 0, "p:unstated"},
        {"mPa", P, 1e-3, 0, "p:unstated"},
        {"GPa", P, 1e9, 0, "p:unstated"},
        {"bar", P, 1e5, 0, "p:unstated"},
        {"BAR", P, 1e5, 0, "p:unstated"},
        {"Bar", P, 1e5, 0, "p:unstated"},
        {"mbar", P, 100, 0, "p:unstated"},
        {"MBAR", P, 100, 0, "p:unstated"},
        {"mbarg", P, 100, 0, "p:gauge"},
        {"mbara", P, 100, 0, "p:absolute"},
        {"barg", P, 1e5, 0, "p:gauge"},
        {"BARG", P, 1e5, 0, "p:gauge"},
        {"bar g", P, 1e5, 0, "p:gauge"},
        {"bar(g)", P, 1e5, 0, "p:gauge"},
        {"bar (g)", P, 1e5, 0, "p:gauge"},
        {"bar-g", P, 1e5, 0, "p:gauge"},
        {"bar gauge", P, 1e5, 0, "p:gauge"},
        {"bar G", P, 1e5, 0, "p:gauge"},
        {"bara", P, 1e5, 0, "p:absolute"},
        {"BARA", P, 1e5, 0, "p:absolute"},
        {"bar(a)", P, 1e5, 0, "p:absolute"},
        {"bar a", P, 1e5, 0, "p:absolute"},
        {"bar abs", P, 1e5, 0, "p:absolute"},
        {"bar(abs)", P, 1e5, 0, "p:absolute"},
        {"bar absolute", P, 1e5, 0, "p:absolute"},
        {"psi", P, PSI, 0, "p:unstated"},
        {"PSI", P, PSI, 0, "p:unstated"},
        {"psig", P, PSI, 0, "p:gauge"},
        {"PSIG", P, PSI, 0, "p:gauge"},
        {"psia", P, PSI, 0, "p:absolute"},
        {"PSIA", P, PSI, 0, "p:absolute"},
        {"psi(g)", P, PSI, 0, "p:gauge"},
        {"psi g", P, PSI, 0, "p:gauge"},
        {"kPag", P, 1e3, 0, "p:gauge"},
        {"kPaa", P, 1e3, 0, "p:absolute"},
        {"kPa(a)", P, 1e3, 0, "p:absolute"},
        {"kPa abs", P, 1e3, 0, "p:absolute"},
        {"kPa g", P, 1e3, 0, "p:gauge"},
        {"kPa(g)", P, 1e3, 0, "p:gauge"},
        {"kPa gauge", P, 1e3, 0, "p:gauge"},
        {"KPAG", P, 1e3, 0, "p:gauge"},
        {"MPag", P, 1e6, 0, "p:gauge"},
        {"MPa(g)", P, 1e6, 0, "p:gauge"},
        {"MPaa", P, 1e6, 0, "p:absolute"},
        {"atm", P, ATM, 0, "p:unstated"},
        {"atma", P, ATM, 0, "p:absolute"},
        {"mmHg", P, MMHG, 0, "p:unstated"},
        {"mmHga", P, MMHG, 0, "p:absolute"},
        {"torr", P, TORR, 0, "p:unstated"},
        {"Torr", P, TORR, 0, "p:unstated"},
        {"mTorr", P, TORR / 1000, 0, "p:unstated"},
        {"inHg", P, INHG, 0, "p:unstated"},
        {"inH2O", P, INH2O, 0, "p:unstated"},
        {"inWC", P, INH2O, 0, "p:unstated"},
        {"in H2O", NO, 0, 0, "not a known unit"},
        {"mmH2O", P, MMH2O, 0, "p:unstated"},
        {"mmWC", P, MMH2O, 0, "p:unstated"},
        {"MMWC", P, MMH2O, 0, "p:unstated"},
        {"mmH\u2082O", P, MMH2O, 0, "p:unstated"},
        {"cmH2O", P, 98.0665, 0, "p:unstated"},
        {"mH2O", P, 9806.65, 0, "p:unstated"},
        {"ftH2O", P, 2989.06692, 0, "p:unstated"},
        {"kg/cm2", P, KGFCM2, 0, "p:unstated"},
        {"kg/cm\u00B2", P, KGFCM2, 0, "p:unstated"},
        {"kg/cm^2", P, KGFCM2, 0, "p:unstated"},
        {"kgf/cm2", P, KGFCM2, 0, "p:unstated"},
        {"kg/cm2g", P, KGFCM2, 0, "p:gauge"},
        {"kg/cm2 g", P, KGFCM2, 0, "p:gauge"},
        {"kg/cm2(g)", P, KGFCM2, 0, "p:gauge"},
        {"kg/cm2a", P, KGFCM2, 0, "p:absolute"},
        {"KG/CM2", P, KGFCM2, 0, "p:unstated"},
        {"ksc", P, KGFCM2, 0, "p:unstated"},
        {"kscg", P, KGFCM2, 0, "p:gauge"},
        {"N/m2", P, 1, 0, "p:unstated"},
        {"N/m\u00B2", P, 1, 0, "p:unstated"},
        {"kN/m2", P, 1e3, 0, "p:unstated"},
        {"lbf/in2", P, PSI, 0, "p:unstated"},
        // Exact case first: only the phrase's own spellings are the pressure (found by fuzzing:
        // the canonical "kg/cm^2" of this one read back as the pressure).
        {"kg/Cm2", "ML^-2", 1e4, 0, ""},
        {"kg*cm^-2", "ML^-2", 1e4, 0, ""},
        {"d1kg/Cm2", "ML^-2T", 864e6, 0, ""},
        // Sixteen units whose canonical spelling is longer than the text (found by fuzzing).
        {"%w %w %w %w %w %w %w %w %w %w %w/%w %w %w %w %w", ONE, 1e-12, 0, "b:mass"},
        {"kg/cm2*kg/Cm2", "M^2L^-3T^-2", KGFCM2 * 1e4, 0, ""},
        {"kgf/m2", P, KGF, 0, "p:unstated"},

        // Volumes.
        {"m3", V, 1, 0, "v:actual"},
        {"m\u00B3", V, 1, 0, "v:actual"},
        {"m^3", V, 1, 0, "v:actual"},
        {"M3", V, 1, 0, "v:actual"},
        {"m**3", V, 1, 0, "v:actual"},
        {"cm3", V, 1e-6, 0, "v:actual"},
        {"cc", V, 1e-6, 0, "v:actual"},
        {"mL", V, 1e-6, 0, "v:actual"},
        {"ml", V, 1e-6, 0, "v:actual"},
        {"L", V, 1e-3, 0, "v:actual"},
        {"l", V, 1e-3, 0, "v:actual"},
        {"liter", V, 1e-3, 0, "v:actual"},
        {"litre", V, 1e-3, 0, "v:actual"},
        {"gal", V, GAL, 0, "v:actual"},
        {"USgal", V, GAL, 0, "v:actual"},
        {"impgal", V, IMPGAL, 0, "v:actual"},
        {"bbl", V, BBL, 0, "v:actual"},
        {"BBL", V, BBL, 0, "v:actual"},
        {"Mbbl", V, 1e3 * BBL, 0, "v:actual"},
        {"MMbbl", V, 1e6 * BBL, 0, "v:actual"},
        {"ft3", V, FT3, 0, "v:actual"},
        {"ft\u00B3", V, FT3, 0, "v:actual"},
        {"in3", V, IN * IN * IN, 0, "v:actual"},
        {"acf", V, FT3, 0, "v:actual"},
        {"Am3", V, 1, 0, "v:actual"},
        {"Nm3", V, 1, 0, "v:normal"},
        {"Nm\u00B3", V, 1, 0, "v:normal"},
        {"Nm^3", V, 1, 0, "v:normal"},
        {"NM3", V, 1, 0, "v:normal"},
        {"nm3", V, 1, 0, "v:normal"},
        {"NL", V, 1e-3, 0, "v:normal"},
        {"Sm3", V, 1, 0, "v:standard"},
        {"sm3", V, 1, 0, "v:standard"},
        {"scm", V, 1, 0, "v:standard"},
        {"scf", V, FT3, 0, "v:standard"},
        {"SCF", V, FT3, 0, "v:standard"},
        {"Mscf", V, 1e3 * FT3, 0, "v:standard"},
        {"MMscf", V, 1e6 * FT3, 0, "v:standard"},
        {"MMSCF", V, 1e6 * FT3, 0, "v:standard"},
        {"MSCF", V, 1e3 * FT3, 0, "v:standard"},

        // Volume flows.
        {"m3/h", Q, 1 / HR, 0, "v:actual"},
        {"m\u00B3/h", Q, 1 / HR, 0, "v:actual"},
        {"m^3/h", Q, 1 / HR, 0, "v:actual"},
        {"m3/hr", Q, 1 / HR, 0, "v:actual"},
        {"m3/hour", Q, 1 / HR, 0, "v:actual"},
        {"M3/HR", Q, 1 / HR, 0, "v:actual"},
        {"m3 h-1", Q, 1 / HR, 0, "v:actual"},
        {"m3*h^-1", Q, 1 / HR, 0, "v:actual"},
        {"m3.h-1", Q, 1 / HR, 0, "v:actual"},
        {"m3\u00B7h\u207B\u00B9", Q, 1 / HR, 0, "v:actual"},
        {"m3/s", Q, 1, 0, "v:actual"},
        {"m3/min", Q, 1 / MIN, 0, "v:actual"},
        {"m3/d", Q, 1 / DAY, 0, "v:actual"},
        {"m3/day", Q, 1 / DAY, 0, "v:actual"},
        {"L/min", Q, 1e-3 / MIN, 0, "v:actual"},
        {"l/min", Q, 1e-3 / MIN, 0, "v:actual"},
        {"L/h", Q, 1e-3 / HR, 0, "v:actual"},
        {"l/h", Q, 1e-3 / HR, 0, "v:actual"},
        {"LPM", Q, 1e-3 / MIN, 0, "v:actual"},
        {"lpm", Q, 1e-3 / MIN, 0, "v:actual"},
        {"lph", Q, 1e-3 / HR, 0, "v:actual"},
        {"L/s", Q, 1e-3, 0, "v:actual"},
        {"mL/min", Q, 1e-6 / MIN, 0, "v:actual"},
        {"ml/min", Q, 1e-6 / MIN, 0, "v:actual"},
        {"ml/h", Q, 1e-6 / HR, 0, "v:actual"},
        {"gpm", Q, GAL / MIN, 0, "v:actual"},
        {"GPM", Q, GAL / MIN, 0, "v:actual"},
        {"gph", Q, GAL / HR, 0, "v:actual"},
        {"gal/min", Q, GAL / MIN, 0, "v:actual"},
        {"bbl/d", Q, BBL / DAY, 0, "v:actual"},
        {"bbl/day", Q, BBL / DAY, 0, "v:actual"},
        {"BPD", Q, BBL / DAY, 0, "v:actual"},
        {"bpd", Q, BBL / DAY, 0, "v:actual"},
        {"BOPD", Q, BBL / DAY, 0, "v:actual"},
        {"Mbpd", Q, 1e3 * BBL / DAY, 0, "v:actual"},
        {"ft3/min", Q, FT3 / MIN, 0, "v:actual"},
        {"acfm", Q, FT3 / MIN, 0, "v:actual"},
        {"ACFM", Q, FT3 / MIN, 0, "v:actual"},
        {"cfm", Q, FT3 / MIN, 0, "v:actual"},
        {"CFM", Q, FT3 / MIN, 0, "v:actual"},
        {"Am3/h", Q, 1 / HR, 0, "v:actual"},
        {"Nm3/h", Q, 1 / HR, 0, "v:normal"},
        {"Nm\u00B3/h", Q, 1 / HR, 0, "v:normal"},
        {"Nm3/hr", Q, 1 / HR, 0, "v:normal"},
        {"NM3/HR", Q, 1 / HR, 0, "v:normal"},
        {"Nm3/d", Q, 1 / DAY, 0, "v:normal"},
        {"kNm3/h", Q, 1e3 / HR, 0, "v:normal"},
        {"Nl/min", Q, 1e-3 / MIN, 0, "v:normal"},
        {"NL/h", Q, 1e-3 / HR, 0, "v:normal"},
        {"Sm3/h", Q, 1 / HR, 0, "v:standard"},
        {"Sm3/d", Q, 1 / DAY, 0, "v:standard"},
        {"MSm3/d", Q, 1e6 / DAY, 0, "v:standard"},
        {"kSm3/d", Q, 1e3 / DAY, 0, "v:standard"},
        {"scmh", Q, 1 / HR, 0, "v:standard"},
        {"SCMH", Q, 1 / HR, 0, "v:standard"},
        {"kscmh", Q, 1e3 / HR, 0, "v:standard"},
        {"KSCMH", Q, 1e3 / HR, 0, "v:standard"},
        {"scmd", Q, 1 / DAY, 0, "v:standard"},
        {"scfm", Q, FT3 / MIN, 0, "v:standard"},
        {"SCFM", Q, FT3 / MIN, 0, "v:standard"},
        {"scfh", Q, FT3 / HR, 0, "v:standard"},
        {"scfd", Q, FT3 / DAY, 0, "v:standard"},
        {"SCFD", Q, FT3 / DAY, 0, "v:standard"},
        {"Mscfd", Q, 1e3 * FT3 / DAY, 0, "v:standard"},
        {"MMscfd", Q, 1e6 * FT3 / DAY, 0, "v:standard"},
        {"MMSCFD", Q, 1e6 * FT3 / DAY, 0, "v:standard"},
        {"MMscf/d", Q, 1e6 * FT3 / DAY, 0, "v:standard"},
        {"MMSCF/D", Q, 1e6 * FT3 / DAY, 0, "v:standard"},
        {"Mscf/d", Q, 1e3 * FT3 / DAY, 0, "v:standard"},
        {"scf/h", Q, FT3 / HR, 0, "v:standard"},

        // Mass and molar flows.
        {"kg/h", MF, 1 / HR, 0, ""},
        {"kg/hr", MF, 1 / HR, 0, ""},
        {"KG/HR", MF, 1 / HR, 0, ""},
        {"Kg/h", MF, 1 / HR, 0, ""},
        {"kg/s", MF, 1, 0, ""},
        {"KG/S", MF, 1, 0, ""},
        {"kg/min", MF, 1 / MIN, 0, ""},
        {"kg/d", MF, 1 / DAY, 0, ""},
        {"kg h-1", MF, 1 / HR, 0, ""},
        {"kg\u00B7h\u207B\u00B9", MF, 1 / HR, 0, ""},
        {"kg / h", MF, 1 / HR, 0, ""},
        {"kg\u2215h", MF, 1 / HR, 0, ""},
        {"kg/h\u00A0", MF, 1 / HR, 0, ""},
        {"t/h", MF, 1e3 / HR, 0, ""},
        {"t/d", MF, 1e3 / DAY, 0, ""},
        {"T/H", MF, 1e3 / HR, 0, ""},
        {"tph", MF, 1e3 / HR, 0, ""},
        {"TPH", MF, 1e3 / HR, 0, ""},
        {"tpd", MF, 1e3 / DAY, 0, ""},
        {"tonne/h", MF, 1e3 / HR, 0, ""},
        {"lb/h", MF, LB / HR, 0, ""},
        {"lb/hr", MF, LB / HR, 0, ""},
        {"lbs/hr", MF, LB / HR, 0, ""},
        {"LB/HR", MF, LB / HR, 0, ""},
        {"lb/s", MF, LB, 0, ""},
        {"g/s", MF, 1e-3, 0, ""},
        {"g/min", MF, 1e-3 / MIN, 0, ""},
        {"mg/s", MF, 1e-6, 0, ""},
        {"kmol/h", NF, 1e3 / HR, 0, ""},
        {"kmol/hr", NF, 1e3 / HR, 0, ""},
        {"KMOL/HR", NF, 1e3 / HR, 0, ""},
        {"mol/s", NF, 1, 0, ""},
        {"mol/h", NF, 1 / HR, 0, ""},
        {"lbmol/h", NF, 1e3 * LB / HR, 0, ""},
        {"kgmol/h", NF, 1e3 / HR, 0, ""},
        {"mmol/min", NF, 1e-3 / MIN, 0, ""},

        // Densities and concentrations.
        {"kg/m3", RHO, 1, 0, "v:actual"},
        {"kg/m\u00B3", RHO, 1, 0, "v:actual"},
        {"kg/m^3", RHO, 1, 0, "v:actual"},
        {"kg m-3", RHO, 1, 0, "v:actual"},
        {"g/cm3", RHO, 1e3, 0, "v:actual"},
        {"g/cc", RHO, 1e3, 0, "v:actual"},
        {"g/mL", RHO, 1e3, 0, "v:actual"},
        {"g/ml", RHO, 1e3, 0, "v:actual"},
        {"kg/L", RHO, 1e3, 0, "v:actual"},
        {"g/L", RHO, 1, 0, "v:actual"},
        {"mg/L", RHO, 1e-3, 0, "v:actual"},
        {"mg/l", RHO, 1e-3, 0, "v:actual"},
        {"ug/m3", RHO, 1e-9, 0, "v:actual"},
        {"\u00B5g/m3", RHO, 1e-9, 0, "v:actual"},
        {"lb/ft3", RHO, LB / FT3, 0, "v:actual"},
        {"lbm/ft3", RHO, LB / FT3, 0, "v:actual"},
        {"lb/gal", RHO, LB / GAL, 0, "v:actual"},
        {"kg/Nm3", RHO, 1, 0, "v:normal"},
        {"mg/Nm3", RHO, 1e-6, 0, "v:normal"},
        {"kg/Sm3", RHO, 1, 0, "v:standard"},

        // Viscosity.
        {"Pa.s", "ML^-1T^-1", 1, 0, ""},
        {"Pa\u00B7s", "ML^-1T^-1", 1, 0, ""},
        {"Pa s", "ML^-1T^-1", 1, 0, ""},
        {"Pa*s", "ML^-1T^-1", 1, 0, ""},
        {"mPa.s", "ML^-1T^-1", 1e-3, 0, ""},
        {"mPa\u00B7s", "ML^-1T^-1", 1e-3, 0, ""},
        {"cP", "ML^-1T^-1", 1e-3, 0, ""},
        {"cp", "ML^-1T^-1", 1e-3, 0, ""},
        {"CP", "ML^-1T^-1", 1e-3, 0, ""},
        {"P", "ML^-1T^-1", 0.1, 0, ""},
        {"cSt", "L^2T^-1", 1e-6, 0, ""},
        {"mm2/s", "L^2T^-1", 1e-6, 0, ""},

        // Energy, power, heat.
        {"J", EN, 1, 0, ""},
        {"kJ", EN, 1e3, 0, ""},
        {"KJ", EN, 1e3, 0, ""},
        {"MJ", EN, 1e6, 0, ""},
        {"GJ", EN, 1e9, 0, ""},
        {"kWh", EN, 3.6e6, 0, ""},
        {"KWH", EN, 3.6e6, 0, ""},
        {"kW.h", EN, 3.6e6, 0, ""},
        {"MWh", EN, 3.6e9, 0, ""},
        {"Wh", EN, 3600, 0, ""},
        {"BTU", EN, BTU, 0, ""},
        {"Btu", EN, BTU, 0, ""},
        {"MMBtu", EN, 1e6 * BTU, 0, ""},
        {"MMBTU", EN, 1e6 * BTU, 0, ""},
        {"cal", EN, CAL, 0, ""},
        {"kcal", EN, 1e3 * CAL, 0, ""},
        {"Kcal", EN, 1e3 * CAL, 0, ""},
        {"Mcal", EN, 1e6 * CAL, 0, ""},
        {"Gcal", EN, 1e9 * CAL, 0, ""},
        {"N.m", EN, 1, 0, ""},
        {"kJ/kg", "L^2T^-2", 1e3, 0, ""},
        {"BTU/lb", "L^2T^-2", BTU / LB, 0, ""},
        {"kcal/kg", "L^2T^-2", 1e3 * CAL, 0, ""},
        {"kJ/kmol", "ML^2T^-2N^-1", 1, 0, ""},
        {"W", PW, 1, 0, ""},
        {"kW", PW, 1e3, 0, ""},
        {"KW", PW, 1e3, 0, ""},
        {"kw", PW, 1e3, 0, ""},
        {"MW", PW, 1e6, 0, ""},
        {"mW", PW, 1e-3, 0, ""},
        {"GW", PW, 1e9, 0, ""},
        {"hp", PW, HP, 0, ""},
        {"HP", PW, HP, 0, ""},
        {"kVA", PW, 1e3, 0, ""},
        {"J/s", PW, 1, 0, ""},
        {"BTU/h", PW, BTU / HR, 0, ""},
        {"Btu/hr", PW, BTU / HR, 0, ""},
        {"MMBtu/h", PW, 1e6 * BTU / HR, 0, ""},
        {"MMBTU/HR", PW, 1e6 * BTU / HR, 0, ""},
        {"kcal/h", PW, CAL / 3.6, 0, ""},
        {"Gcal/h", PW, 1e9 * CAL / HR, 0, ""},
        {"kJ/h", PW, 1e3 / HR, 0, ""},
        {"MJ/h", PW, 1e6 / HR, 0, ""},
        {"W/m2/K", "MT^-3\u0398^-1", 1, 0, ""},
        {"W/m2K", "MT^-3\u0398^-1", 1, 0, ""},
        {"W/(m2\u00B7K)", "MT^-3\u0398^-1", 1, 0, ""},
        {"W/m\u00B2K", "MT^-3\u0398^-1", 1, 0, ""},
        {"W/m2.K", "MT^-3\u0398^-1", 1, 0, ""},
        {"W/m2 \u00B0C", "MT^-3\u0398^-1", 1, 0, ""},
        {"kW/m2", "MT^-3", 1e3, 0, ""},
        {"W/m/K", "MLT^-3\u0398^-1", 1, 0, ""},
        {"W/(m\u00B7K)", "MLT^-3\u0398^-1", 1, 0, ""},
        {"kJ/(kg\u00B7K)", "L^2T^-2\u0398^-1", 1e3, 0, ""},
        {"kJ/kg K", "L^2T^-2\u0398^-1", 1e3, 0, ""},
        {"kJ/kg.K", "L^2T^-2\u0398^-1", 1e3, 0, ""},
        {"kJ/kg/K", "L^2T^-2\u0398^-1", 1e3, 0, ""},
        {"J/(g\u00B7K)", "L^2T^-2\u0398^-1", 1e3, 0, ""},
        {"kJ/kg\u00B0C", "L^2T^-2\u0398^-1", 1e3, 0, ""},
        {"kJ/(kg*degC)", "L^2T^-2\u0398^-1", 1e3, 0, ""},
        {"BTU/lb/F", "L^2T^-2\u0398^-1", BTU / LB / R, 0, ""},
        {"Btu/(lb*degF)", "L^2T^-2\u0398^-1", BTU / LB / R, 0, ""},
        {"kcal/kg/C", "L^2T^-2\u0398^-1", 1e3 * CAL, 0, ""},
        {"K/min", "T^-1\u0398", 1 / MIN, 0, ""},
        {"\u00B0C/h", "T^-1\u0398", 1 / HR, 0, ""},
        {"\u00B0F/min", "T^-1\u0398", R / MIN, 0, ""},

        // Length, mass, time, speed.
        {"m", "L", 1, 0, ""},
        {"mm", "L", 1e-3, 0, ""},
        {"MM", "L", 1e-3, 0, ""},
        {"cm", "L", 1e-2, 0, ""},
        {"km", "L", 1e3, 0, ""},
        {"in", "L", IN, 0, ""},
        {"inch", "L", IN, 0, ""},
        {"ft", "L", FT, 0, ""},
        {"feet", "L", FT, 0, ""},
        {"FT", "L", FT, 0, ""},
        {"um", "L", 1e-6, 0, ""},
        {"\u00B5m", "L", 1e-6, 0, ""},
        {"\u03BCm", "L", 1e-6, 0, ""},
        {"micron", "L", 1e-6, 0, ""},
        {"m/s", "LT^-1", 1, 0, ""},
        {"mm/s", "LT^-1", 1e-3, 0, ""},
        {"ft/s", "LT^-1", FT, 0, ""},
        {"m/min", "LT^-1", 1 / MIN, 0, ""},
        {"m/s2", "LT^-2", 1, 0, ""},
        {"m2", "L^2", 1, 0, ""},
        {"ft2", "L^2", FT * FT, 0, ""},
        {"kg", "M", 1, 0, ""},
        {"KG", "M", 1, 0, ""},
        {"Kg", "M", 1, 0, ""},
        {"g", "M", 1e-3, 0, ""},
        {"mg", "M", 1e-6, 0, ""},
        {"t", "M", 1e3, 0, ""},
        {"tonne", "M", 1e3, 0, ""},
        {"kt", "M", 1e6, 0, ""},
        {"lb", "M", LB, 0, ""},
        {"lbs", "M", LB, 0, ""},
        {"s", "T", 1, 0, ""},
        {"sec", "T", 1, 0, ""},
        {"S", "T", 1, 0, ""},
        {"ms", "T", 1e-3, 0, ""},
        {"min", "T", MIN, 0, ""},
        {"h", "T", HR, 0, ""},
        {"hr", "T", HR, 0, ""},
        {"hrs", "T", HR, 0, ""},
        {"d", "T", DAY, 0, ""},
        {"day", "T", DAY, 0, ""},
        {"N", "MLT^-2", 1, 0, ""},
        {"kN", "MLT^-2", 1e3, 0, ""},
        {"lbf", "MLT^-2", LBF, 0, ""},
        {"kgf", "MLT^-2", KGF, 0, ""},

        // Frequency and speed of rotation.
        {"Hz", "T^-1", 1, 0, ""},
        {"kHz", "T^-1", 1e3, 0, ""},
        {"rpm", "T^-1", 1 / MIN, 0, ""},
        {"RPM", "T^-1", 1 / MIN, 0, ""},
        {"1/s", "T^-1", 1, 0, ""},
        {"s-1", "T^-1", 1, 0, ""},
        {"s^-1", "T^-1", 1, 0, ""},
        {"s\u207B\u00B9", "T^-1", 1, 0, ""},
        {"1/min", "T^-1", 1 / MIN, 0, ""},
        {"1/h", "T^-1", 1 / HR, 0, ""},
        {"h-1", "T^-1", 1 / HR, 0, ""},
        {"rev/min", "T^-1", 1 / MIN, 0, ""},

        // Electrical.
        {"A", "I", 1, 0, ""},
        {"mA", "I", 1e-3, 0, ""},
        {"MA", "I", 1e-3, 0, ""},
        {"uA", "I", 1e-6, 0, ""},
        {"V", "ML^2T^-3I^-1", 1, 0, ""},
        {"mV", "ML^2T^-3I^-1", 1e-3, 0, ""},
        {"kV", "ML^2T^-3I^-1", 1e3, 0, ""},
        {"KV", "ML^2T^-3I^-1", 1e3, 0, ""},
        {"ohm", "ML^2T^-3I^-2", 1, 0, ""},
        {"\u03A9", "ML^2T^-3I^-2", 1, 0, ""},
        {"k\u2126", "ML^2T^-3I^-2", 1e3, 0, ""},
        {"kohm", "ML^2T^-3I^-2", 1e3, 0, ""},
        {"\u00B5S/cm", "M^-1L^-3T^3I^2", 1e-4, 0, ""},
        {"uS/cm", "M^-1L^-3T^3I^2", 1e-4, 0, ""},
        {"US/CM", "M^-1L^-3T^3I^2", 1e-4, 0, ""},
        {"mS/cm", "M^-1L^-3T^3I^2", 0.1, 0, ""},
        {"mS/m", "M^-1L^-3T^3I^2", 1e-3, 0, ""},

        // Amount.
        {"mol", "N", 1, 0, ""},
        {"kmol", "N", 1e3, 0, ""},
        {"lbmol", "N", 1e3 * LB, 0, ""},
        {"mmol", "N", 1e-3, 0, ""},

        // Fractions and pure numbers.
        {"%", ONE, 0.01, 0, "b:unstated"},
        {"pct", ONE, 0.01, 0, "b:unstated"},
        {"percent", ONE, 0.01, 0, "b:unstated"},
        {"ppm", ONE, 1e-6, 0, "b:unstated"},
        {"PPM", ONE, 1e-6, 0, "b:unstated"},
        {"ppb", ONE, 1e-9, 0, "b:unstated"},
        {"ppmw", ONE, 1e-6, 0, "b:mass"},
        {"ppmwt", ONE, 1e-6, 0, "b:mass"},
        {"ppm(w)", ONE, 1e-6, 0, "b:mass"},
        {"ppm wt", ONE, 1e-6, 0, "b:mass"},
        {"ppm (wt)", ONE, 1e-6, 0, "b:mass"},
        {"ppmv", ONE, 1e-6, 0, "b:volume"},
        {"PPMV", ONE, 1e-6, 0, "b:volume"},
        {"ppm(v)", ONE, 1e-6, 0, "b:volume"},
        {"ppm vol", ONE, 1e-6, 0, "b:volume"},
        {"ppm v/v", ONE, 1e-6, 0, "b:volume"},
        {"ppmmol", ONE, 1e-6, 0, "b:mole"},
        {"ppm mol", ONE, 1e-6, 0, "b:mole"},
        {"ppbv", ONE, 1e-9, 0, "b:volume"},
        {"ppbw", ONE, 1e-9, 0, "b:mass"},
        {"wt%", ONE, 0.01, 0, "b:mass"},
        {"wt.%", ONE, 0.01, 0, "b:mass"},
        {"wt %", ONE, 0.01, 0, "b:mass"},
        {"WT%", ONE, 0.01, 0, "b:mass"},
        {"mass%", ONE, 0.01, 0, "b:mass"},
        {"%wt", ONE, 0.01, 0, "b:mass"},
        {"% wt", ONE, 0.01, 0, "b:mass"},
        {"%w/w", ONE, 0.01, 0, "b:mass"},
        {"% w/w", ONE, 0.01, 0, "b:mass"},
        {"% (w/w)", ONE, 0.01, 0, "b:mass"},
        {"w/w", ONE, 1, 0, "b:mass"},
        {"mol%", ONE, 0.01, 0, "b:mole"},
        {"mole%", ONE, 0.01, 0, "b:mole"},
        {"mol %", ONE, 0.01, 0, "b:mole"},
        {"MOL%", ONE, 0.01, 0, "b:mole"},
        {"%mol", ONE, 0.01, 0, "b:mole"},
        {"mol/mol", ONE, 1, 0, "b:mole"},
        {"kmol/kmol", ONE, 1, 0, "b:mole"},
        {"mol/kmol", ONE, 1e-3, 0, "b:mole"},
        {"vol%", ONE, 0.01, 0, "b:volume"},
        {"vol %", ONE, 0.01, 0, "b:volume"},
        {"VOL%", ONE, 0.01, 0, "b:volume"},
        {"%vol", ONE, 0.01, 0, "b:volume"},
        {"%v/v", ONE, 0.01, 0, "b:volume"},
        {"v/v", ONE, 1, 0, "b:volume"},
        {"vol/vol", ONE, 1, 0, "b:volume"},
        {"mg/kg", ONE, 1e-6, 0, "b:mass"},
        {"g/kg", ONE, 1e-3, 0, "b:mass"},
        {"kg/kg", ONE, 1, 0, "b:mass"},
        {"g/t", ONE, 1e-6, 0, "b:mass"},
        {"m3/m3", ONE, 1, 0, "v:actual b:volume"},
        {"ratio", ONE, 1, 0, ""},
        {"-", ONE, 1, 0, ""},
        {"1", ONE, 1, 0, ""},
        {"dimensionless", ONE, 1, 0, ""},
        {"fraction", ONE, 1, 0, ""},
        {"W/W", ONE, 1, 0, ""},
        {"pH", ONE, 1, 0, "log"},
        {"PH", ONE, 1, 0, "log"},
        {"ph", ONE, 1, 0, "log"},

        // Flow spellings of plant historians: a thousand as k, K or field M; US and imperial
        // gallons; pounds per hour as steam meters write it.
        {"klb/h", MF, 1e3 * LB / HR, 0, ""},
        {"klb/hr", MF, 1e3 * LB / HR, 0, ""},
        {"KLB/HR", MF, 1e3 * LB / HR, 0, ""},
        {"Mlb/h", MF, 1e3 * LB / HR, 0, ""},
        {"MMlb/d", MF, 1e6 * LB / DAY, 0, ""},
        {"klbs/hr", MF, 1e3 * LB / HR, 0, ""},
        {"pph", MF, LB / HR, 0, ""},
        {"KPPH", MF, 1e3 * LB / HR, 0, ""},
        {"Mpph", MF, 1e3 * LB / HR, 0, ""},
        {"lbph", MF, LB / HR, 0, ""},
        {"USgpm", Q, GAL / MIN, 0, "v:actual"},
        {"USGPM", Q, GAL / MIN, 0, "v:actual"},
        {"usgpm", Q, GAL / MIN, 0, "v:actual"},
        {"IGPM", Q, IMPGAL / MIN, 0, "v:actual"},
        {"UKgpm", Q, IMPGAL / MIN, 0, "v:actual"},
        {"US gpm", Q, GAL / MIN, 0, "v:actual"},  // the gallon's country, not microsiemens
        {"US gal/min", Q, GAL / MIN, 0, "v:actual"},
        {"Imp gpm", Q, IMPGAL / MIN, 0, "v:actual"},
        {"UK gal", V, IMPGAL, 0, "v:actual"},
        {"KSCFH", Q, 1e3 * FT3 / HR, 0, "v:standard"},
        {"kscfm", Q, 1e3 * FT3 / MIN, 0, "v:standard"},
        {"KSCFD", Q, 1e3 * FT3 / DAY, 0, "v:standard"},
        {"MSCFH", Q, 1e3 * FT3 / HR, 0, "v:standard"},
        {"MSCFD", Q, 1e3 * FT3 / DAY, 0, "v:standard"},
        {"Kscf", V, 1e3 * FT3, 0, "v:standard"},
        {"MMSCMD", Q, 1e6 / DAY, 0, "v:standard"},
        {"MMscmh", Q, 1e6 / HR, 0, "v:standard"},
        {"t/hr", MF, 1e3 / HR, 0, ""},
        {"DEG F", TH, R, F0, ""},

        // Refused, each with the reason it gives.
        {"", NO, 0, 0, "no unit given"},
        {" \t", NO, 0, 0, "no unit given"},
        {"furlong", NO, 0, 0, "'furlong' is not a known unit"},
        {"mw", NO, 0, 0, "could be mW or MW"},
        {"Mw", NO, 0, 0, "could be mW or MW"},
        {"MPA", NO, 0, 0, "could be mPa or MPa"},
        {"MS", NO, 0, 0, "could be ms or mS"},
        {"ton", NO, 0, 0, "short ton"},
        {"tons/h", NO, 0, 0, "short ton"},
        {"MT", NO, 0, 0, "megatonne"},
        {"mt/h", NO, 0, 0, "megatonne"},
        {"MBtu", NO, 0, 0, "a thousand Btu"},
        {"MBTU/h", NO, 0, 0, "a thousand Btu"},
        {"ppt", NO, 0, 0, "parts per trillion"},
        {"slpm", NO, 0, 0, "maker"},
        {"SCCM", NO, 0, 0, "maker"},
        {"M", NO, 0, 0, "molar"},
        {"cps", NO, 0, 0, "centipoise"},
        {"Nm", NO, 0, 0, "normal cubic metre Nm3 (a newton metre is N*m)"},
        {"Sm2", NO, 0, 0, "cubed, as the standard cubic metre Sm3"},
        {"kg/", NO, 0, 0, "expected a unit"},
        {"(kg", NO, 0, 0, "missing ')'"},
        {"kg)", NO, 0, 0, "unexpected ')'"},
        {"m^", NO, 0, 0, "digits after '^'"},
        {"m^0", NO, 0, 0, "zero exponent"},
        {"2kg", NO, 0, 0, "a number is not a unit"},
        {"kg\xFF", NO, 0, 0, "invalid UTF-8 at byte 2"},
        {"\xC0\xAF", NO, 0, 0, "invalid UTF-8 at byte 0"},
        {"kg\xE2\x82", NO, 0, 0, "invalid UTF-8"},
        {"kg\u20AC", NO, 0, 0, "no unit uses the character U+20AC at byte 2"},
        {"kg\x01", NO, 0, 0, "U+0001"},
        {"((((((((((m))))))))))", NO, 0, 0, "nested deeper"},
        {std::string(300, 'm'), NO, 0, 0, "longer than 256 bytes"},
        {"barg/h", NO, 0, 0, "on a pressure only"},
        {"barg*bara", NO, 0, 0, "gauge and absolute"},
        {"Nm3/Sm3", NO, 0, 0, "different reference conditions"},
        {"ppmw/ppmv", NO, 0, 0, "different bases"},
        {"pH2", NO, 0, 0, "logarithmic"},
        {"pH/h", NO, 0, 0, "logarithmic"},
        {"m999", NO, 0, 0, "exponent too large"},
        {"(m3)^40", NO, 0, 0, "exponent too large"},
        {"kdegC", NO, 0, 0, "not a known unit"},
        {"lb-mol", NO, 0, 0, "unexpected character"},
        {"kg/h;", NO, 0, 0, "unexpected"},
        {"m m m m m m m m m m m m m m m m m", NO, 0, 0, "more than 16"},
        {"\u00B0", NO, 0, 0, "'deg' is not a known unit"},
        {"kJ/kgK", NO, 0, 0, "not a known unit"},
    };
    return table;
}

TEST(UnitV2Parse, SpellingsFromPlantExports) {
    std::set<std::string> seen;
    for (const Spelling& row : spellings()) {
        SCOPED_TRACE("'" + row.text + "'");
        EXPECT_TRUE(seen.insert(row.text).second) << "listed twice";
        const v2::ParseOutcome outcome = v2::parse_unit(row.text);
        if (std::string_view(row.dim) == NO) {
            ASSERT_FALSE(outcome.unit.has_value()) << outcome.unit->canonical;
            EXPECT_NE(outcome.why.find(row.kind), std::string::npos) << outcome.why;
            continue;
        }
        ASSERT_TRUE(outcome.unit.has_value()) << outcome.why;
        EXPECT_TRUE(outcome.why.empty());
        const v2::UnitV2& u = *outcome.unit;
        EXPECT_EQ(u.dim.tag(), row.dim);
        EXPECT_NEAR(u.scale, row.scale, 1e-12 * row.scale);
        EXPECT_NEAR(u.offset, row.offset, 1e-9);
        EXPECT_EQ(kind_of(u), row.kind);
        // The canonical spelling reads back as the same unit.
        const v2::ParseOutcome again = v2::parse_unit(u.canonical);
        ASSERT_TRUE(again.unit.has_value()) << u.canonical << ": " << again.why;
        EXPECT_EQ(again.unit->dim, u.dim);
        EXPECT_NEAR(again.unit->scale, u.scale, 1e-12 * u.scale) << u.canonical;
        EXPECT_EQ(kind_of(*again.unit), kind_of(u)) << u.canonical;
    }
    EXPECT_GE(seen.size(), 500u);
}

// Every unit of the vocabulary against its definition, by its canonical spelling. A unit added
// to the table without a line here fails the coverage check at the end.
TEST(UnitV2Vocabulary, MatchesExactDefinitions) {
    struct Definition {
        std::string_view canonical;
        double si;
        double offset = 0;
        double reference_t = NAN;
        double reference_p = NAN;
    };
    const double SCF_T = (60 + 459.67) * R, SCF_P = 14.696 * PSI;
    const Definition definitions[] = {
        {"m", 1},
        {"um", 1e-6},
        {"in", IN},
        {"ft", FT},
        {"yd", 3 * FT},
        {"g", 1e-3},
        {"t", 1e3},
        {"lb", LB},
        {"s", 1},
        {"min", MIN},
        {"h", HR},
        {"d", DAY},
        {"K", 1},
        {"degC", 1, C0},
        {"degF", R, F0},
        {"degR", R},
        {"mol", 1},
        {"kgmol", 1e3},
        {"lbmol", 1e3 * LB},
        {"A", 1},
        {"L", 1e-3},
        {"cc", 1e-6},
        {"gal", GAL},
        {"impgal", IMPGAL},
        {"bbl", BBL},
        {"acf", FT3},
        {"Am", 1},
        {"Nm", 1, 0, C0, ATM},
        {"NL", 1e-3, 0, C0, ATM},
        {"Sm", 1, 0, 288.15, ATM},
        {"scm", 1, 0, 288.15, ATM},
        {"scf", FT3, 0, SCF_T, SCF_P},
        {"gpm", GAL / MIN},
        {"igpm", IMPGAL / MIN},
        {"gph", GAL / HR},
        {"lpm", 1e-3 / MIN},
        {"lph", 1e-3 / HR},
        {"bpd", BBL / DAY},
        {"acfm", FT3 / MIN},
        {"acfh", FT3 / HR},
        {"scfm", FT3 / MIN, 0, SCF_T, SCF_P},
        {"scfh", FT3 / HR, 0, SCF_T, SCF_P},
        {"scfd", FT3 / DAY, 0, SCF_T, SCF_P},
        {"scmh", 1 / HR, 0, 288.15, ATM},
        {"scmd", 1 / DAY, 0, 288.15, ATM},
        {"pph", LB / HR},
        {"tph", 1e3 / HR},
        {"tpd", 1e3 / DAY},
        {"rpm", 1 / MIN},
        {"rev", 1},
        {"Hz", 1},
        {"N", 1},
        {"kgf", KGF},
        {"lbf", LBF},
        {"Pa", 1},
        {"bar", 1e5},
        {"psi", PSI},
        {"atm", ATM},
        {"Torr", TORR},
        {"mmHg", MMHG},
        {"inHg", INHG},
        {"mmH2O", MMH2O},
        {"cmH2O", 10 * MMH2O},
        {"mH2O", 1000 * MMH2O},
        {"inH2O", INH2O},
        {"ftH2O", 12 * INH2O},
        {"kgf/cm2", KGFCM2},
        {"J", 1},
        {"Wh", 3600},
        {"cal", CAL},
        {"Btu", BTU},
        {"W", 1},
        {"VA", 1},
        {"hp", HP},
        {"P", 0.1},
        {"St", 1e-4},
        {"V", 1},
        {"ohm", 1},
        {"S", 1},
        {"1", 1},
        {"%", 0.01},
        {"ppm", 1e-6},
        {"ppb", 1e-9},
        {"wt%", 0.01},
        {"w/w", 1},
        {"mol%", 0.01},
        {"mol/mol", 1},
        {"vol%", 0.01},
        {"v/v", 1},
        {"pH", 1},
    };
    const auto units = vocab::units();
    std::set<std::string_view> checked;
    for (const Definition& d : definitions) {
        SCOPED_TRACE(std::string(d.canonical));
        const auto it = std::find_if(units.begin(), units.end(), [&](const vocab::UnitDef& u) {
            return u.canonical == d.canonical;
        });
        ASSERT_NE(it, units.end());
        checked.insert(d.canonical);
        EXPECT_NEAR(it->scale, d.si, 1e-15 * d.si);
        EXPECT_NEAR(it->offset, d.offset, 1e-12);
        if (std::isnan(d.reference_t)) {
            EXPECT_TRUE(std::isnan(it->reference_temperature_k));
        } else {
            EXPECT_NEAR(it->reference_temperature_k, d.reference_t, 1e-12);
            EXPECT_NEAR(it->reference_pressure_pa, d.reference_p, 1e-9);
        }
    }
    std::size_t spellings = 0;
    for (const vocab::UnitDef& u : units) {
        // The parser reads a word ending in digits as a unit and its power.
        const bool phrase = u.spellings.find_first_of("/^") != std::string_view::npos;
        if (!phrase) {
            EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(u.spellings.back())));
        }
        for (std::size_t bar = u.spellings.find('|'); !phrase && bar != std::string_view::npos;
             bar = u.spellings.find('|', bar + 1)) {
            EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(u.spellings[bar - 1])))
                << u.spellings;
        }
        if (u.role == vocab::Role::Ambiguous) continue;
        // Its longest canonical form ("MMscfd^-99*", "ppm(mol)^-99*") fits the bound that
        // keeps every canonical spelling readable.
        std::size_t prefix = 0;
        for (const vocab::Prefix& p : vocab::kPrefixes) {
            if ((u.prefixes & p.bit) != 0) prefix = std::max(prefix, p.text.size());
        }
        const bool marked =
            u.role == vocab::Role::Pressure ||
            (u.role == vocab::Role::Fraction && u.basis == v2::FractionBasis::Unstated);
        const std::size_t mark = !marked ? 0 : u.role == vocab::Role::Pressure ? 3 : 5;
        EXPECT_LE(prefix + u.canonical.size() + mark + 5, v2::detail::kMaxCanonicalAtom)
            << u.canonical;
        EXPECT_TRUE(checked.count(u.canonical)) << "no definition checked for " << u.canonical;
        spellings +=
            1 + static_cast<std::size_t>(std::count(u.spellings.begin(), u.spellings.end(), '|'));
    }
    const v2::VocabularySize size = v2::vocabulary_size();
    EXPECT_EQ(size.units, checked.size());
    EXPECT_EQ(size.spellings, spellings);
}

// x -> b -> a returns x within 1e-12 relative, for every pair of one dimension that has a
// conversion, over one spelling of each unit of the vocabulary and some prefixed ones.
TEST(UnitV2Conversion, RoundTripsOverTheVocabulary) {
    std::vector<std::string> texts = {"kPa",    "MPa",    "mbar",  "barg", "bara", "psig", "psia",
                                      "kmol/h", "MMscfd", "kscmh", "Mscf", "kWh",  "MW",   "kcal/h",
                                      "mL/min", "uS/cm",  "kg/h",  "lb/h", "t/h"};
    for (const vocab::UnitDef& u : vocab::units()) {
        if (u.role == vocab::Role::Ambiguous) continue;
        const std::string first(u.spellings.substr(0, u.spellings.find('|')));
        texts.push_back(u.role == vocab::Role::CubeOnly ? first + "3" : first);
    }
    int conversions = 0;
    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            const v2::PairVerdict ab = v2::classify(a, b);
            const v2::PairVerdict ba = v2::classify(b, a);
            ASSERT_EQ(ab.hazard, ba.hazard) << a << " vs " << b;
            if (std::isnan(ab.factor)) {
                EXPECT_TRUE(std::isnan(ba.factor)) << a << " vs " << b;
                continue;
            }
            EXPECT_EQ(std::isnan(ab.offset), std::isnan(ba.offset)) << a << " vs " << b;
            const double offset_ab = std::isnan(ab.offset) ? 0 : ab.offset;
            const double offset_ba = std::isnan(ba.offset) ? 0 : ba.offset;
            for (double x : {1.0, -40.0, 12345.678}) {
                const double there = x * ab.factor + offset_ab;
                const double back = there * ba.factor + offset_ba;
                EXPECT_NEAR(back, x, 1e-12 * std::max(1.0, std::fabs(x)))
                    << a << " -> " << b << " -> " << a;
            }
            ++conversions;
        }
    }
    EXPECT_GT(conversions, 500);
}

// A scale in range is read in range whatever the order of its factors, and its canonical
// spelling (numerators first) reads back: the running product never overflows on the way.
TEST(UnitV2Parse, FactorOrderNeverPutsAScaleOutOfRange) {
    for (const char* text : {"h^86", "h^32*h^66/h^12", "h^66*h^32/(h^6*h^6)"}) {
        const v2::ParseOutcome o = v2::parse_unit(text);
        ASSERT_TRUE(o.unit) << text << ": " << o.why;
        EXPECT_DOUBLE_EQ(o.unit->scale, std::pow(3600.0, 86)) << text;
        const v2::ParseOutcome again = v2::parse_unit(o.unit->canonical);
        ASSERT_TRUE(again.unit) << o.unit->canonical;
        EXPECT_DOUBLE_EQ(again.unit->scale, o.unit->scale) << text;
    }
    EXPECT_FALSE(v2::parse_unit("h^98").unit);  // out of range however it is written
}

}  // namespace
