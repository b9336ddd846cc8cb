// Recognising a context file by its header: the column names of each kind (the table in
// edge/EXPORT_PROFILE.md, Context files), compared as keys so that "Sample ID", "sample_id" and
// "SAMPLE-ID" are one name.
#include <algorithm>

#include "context/context_internal.hpp"

namespace qorv_chemical_engineering_edge::context {
namespace {

using N = std::string_view;

// Lab samples, as a LIMS exports them: one row per sample and analysis.
constexpr N kLabId[] = {"sampleid",  "sampleno", "samplenumber", "sample", "samplecode",
                        "sampleref", "labid",    "labsampleid",  "textid"};
constexpr N kLabPoint[] = {"samplepoint", "samplingpoint", "samplelocation", "samplinglocation",
                           "location",    "point",         "pointid",        "samplepointid",
                           "tag",         "tagname"};
constexpr N kLabTime[] = {
    "sampledtime",   "sampletime",   "sampledate",  "sampledat",      "sampled",
    "sampledon",     "datesampled",  "timesampled", "sampledatetime", "collected",
    "collectedtime", "collectedat",  "collectedon", "collectiontime", "collectiondate",
    "samplingtime",  "samplingdate", "timestamp",   "datetime",       "time",
    "date"};
constexpr N kLabAnalysis[] = {"analysis", "analysisname", "component", "analyte", "test",
                              "testname", "parameter",    "property",  "method",  "determination"};
constexpr N kLabResult[] = {"result",        "results",     "resultvalue",    "reportedresult",
                            "reportedvalue", "finalresult", "formattedentry", "numericresult",
                            "resulttext",    "entry",       "value"};
constexpr N kLabUnit[] = {"unit", "units", "uom", "resultunit", "resultunits", "unitofmeasure"};
constexpr N kLabStatus[] = {"status", "samplestatus", "resultstatus", "state",
                            "flag",   "flags",        "qualifier"};

// A maintenance system's work orders: one row per order (or per operation of one).
constexpr N kWoId[] = {"workorder", "workorderid", "workorderno", "workordernumber",
                       "wo",        "wonumber",    "wono",        "woid",
                       "order",     "orderid",     "orderno",     "ordernumber",
                       "jobid",     "jobno",       "jobnumber",   "notification"};
constexpr N kWoEquipment[] = {
    "equipment",          "equipmentid", "equipmentno", "equipmenttag", "equipmentname",
    "functionallocation", "funcloc",     "floc",        "asset",        "assetid",
    "assetnumber",        "tag",         "tagname",     "location",     "functionallocationid"};
constexpr N kWoStart[] = {"start",         "started",        "starttime",       "startdate",
                          "startdatetime", "actualstart",    "actualstartdate", "actualstarttime",
                          "basicstart",    "basicstartdate", "scheduledstart",  "begin",
                          "begintime",     "opened"};
constexpr N kWoFinish[] = {
    "finish",           "finished",         "finishtime",  "finishdate",      "actualfinish",
    "actualfinishdate", "actualfinishtime", "basicfinish", "basicfinishdate", "end",
    "endtime",          "enddate",          "enddatetime", "actualend",       "completed",
    "completedon",      "completedtime",    "completion",  "completiondate",  "closed",
    "closeddate"};
constexpr N kWoType[] = {"type",         "ordertype", "workordertype",
                         "wotype",       "worktype",  "maintenancetype",
                         "activitytype", "category",  "maintenanceactivitytype"};
constexpr N kWoDescription[] = {"description",     "desc",    "shorttext", "text",
                                "workdescription", "summary", "problem"};

// A batch system's event journal: one row per event of a batch, its phases' events among them.
constexpr N kBatch[] = {"batch", "batchid", "batchno", "batchnumber", "batchname",
                        "lot",   "lotid",   "lotno",   "lotnumber",   "uniqueid"};
constexpr N kRecipe[] = {"recipe",       "recipename", "procedure",  "procedurename",
                         "masterrecipe", "product",    "productcode"};
constexpr N kBatchUnit[] = {"unit", "unitname", "unitid", "equipment", "processcell", "area"};
constexpr N kPhase[] = {"phase",         "phasename",        "phaseid",   "step",
                        "stepname",      "stepid",           "operation", "operationname",
                        "unitprocedure", "unitprocedurename"};
constexpr N kEvent[] = {"event",       "eventtype", "eventname", "eventtext", "state", "status",
                        "description", "descript",  "message",   "action",    "pvalue"};
constexpr N kBatchTime[] = {"time",      "timestamp", "datetime",      "eventtime",
                            "eventdate", "date",      "eventdatetime", "localtime",
                            "lcltime",   "gmt",       "utc",           "utctime"};

constexpr RoleSpec kLab[] = {{"sample id", kLabId, false, 1},
                             {"sample point", kLabPoint},
                             {"sampled time", kLabTime, true},
                             {"analysis", kLabAnalysis, false, 1},
                             {"result", kLabResult, true},
                             {"unit", kLabUnit},
                             {"status", kLabStatus}};
constexpr RoleSpec kMaintenance[] = {{"order id", kWoId, false, 1},
                                     {"equipment", kWoEquipment, false, 1},
                                     {"start", kWoStart, true},
                                     {"finish", kWoFinish},
                                     {"type", kWoType},
                                     {"description", kWoDescription}};
constexpr RoleSpec kBatches[] = {{"batch id", kBatch, true}, {"recipe", kRecipe},
                                 {"unit", kBatchUnit},       {"phase", kPhase},
                                 {"event", kEvent, true},    {"time", kBatchTime, true}};

}  // namespace

std::string_view name(Kind kind) noexcept {
    switch (kind) {
        case Kind::Lab:
            return "lab";
        case Kind::Maintenance:
            return "maintenance";
        case Kind::Batches:
            return "batches";
    }
    return "lab";
}

std::optional<Kind> kind_named(std::string_view text) noexcept {
    for (Kind k : {Kind::Lab, Kind::Maintenance, Kind::Batches})
        if (text == name(k)) return k;
    return std::nullopt;
}

std::span<const RoleSpec> roles_of(Kind kind) {
    switch (kind) {
        case Kind::Lab:
            return kLab;
        case Kind::Maintenance:
            return kMaintenance;
        case Kind::Batches:
            return kBatches;
    }
    return kLab;
}

std::string column_key(std::string_view cell) {
    std::string k;
    for (char c : cell) {
        if (c == ' ' || c == '_' || c == '-' || c == '.' || c == '/' || c == '#' || c == '(' ||
            c == ')' || c == '\t')
            continue;
        k.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    return k;
}

// Each column takes the first role (in the kind's order) whose names hold it; a role other than
// the event texts keeps its first column.
Columns columns_for(Kind kind, const std::vector<std::string>& header) {
    const std::span<const RoleSpec> roles = roles_of(kind);
    Columns c;
    c.kind = kind;
    c.of_role.resize(roles.size());
    for (std::size_t j = 0; j < header.size(); ++j) {
        const std::string key = column_key(header[j]);
        if (key.empty()) continue;
        for (std::size_t r = 0; r < roles.size(); ++r) {
            const auto& names = roles[r].names;
            if (std::find(names.begin(), names.end(), key) == names.end()) continue;
            const bool many = kind == Kind::Batches && r == batches::Event;
            if (c.of_role[r].empty() || many) c.of_role[r].push_back(j);
            break;
        }
    }
    c.fits = true;
    std::array<int, 4> groups{};  // per group: 1 seen, 2 named
    for (std::size_t r = 0; r < roles.size(); ++r) {
        const bool named = !c.of_role[r].empty();
        c.named += named;
        if (roles[r].required && !named) c.fits = false;
        if (roles[r].one_of_group) {
            int& g = groups[static_cast<std::size_t>(roles[r].one_of_group)];
            g = std::max(g, named ? 2 : 1);
        }
    }
    for (int g : groups)
        if (g == 1) c.fits = false;
    return c;
}

}  // namespace qorv_chemical_engineering_edge::context
