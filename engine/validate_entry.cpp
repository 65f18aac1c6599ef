// validate(columns, schema_path, schema_columns, failure_cases, threads=None):
// the core's validation report, read by nolt, with the cells that cannot be
// read as their declared type as issues of their own and, on request, the
// failing rows of every issue. `columns` is any dataset argument the other
// functions take (column tuples, Arrow data or an Arrow plan), read with each
// column's cells as they are (temporal columns as their numbers). The schema
// is a file (schema_path, schema_columns None) or schema tuples (schema_path
// None); both are taken and loaded as the core's two validation functions
// take them, with the same errors. The columns are checked side by side on the pool; the issues come
// in the same order whatever the thread count.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "detail_dicts.h"
#include "engine_entry_points.h"
#include "entry_points.h"
#include "ingest/convert.h"
#include "persistence/schema_file.h"
#include "schema_columns.h"

namespace nolt::engine {

using py::PyRef;

namespace {

// Temporal columns are read as their numbers, each of which stands for an
// ISO 8601 text that is always a valid datetime: validation needs the texts
// only to compare them with allowed values. A column that a schema column
// with allowed values names gets its texts back; the others are flagged as
// fitting their type.
std::vector<char> temporal_cells_fit(EngineColumns& input, const std::vector<SuggestedColumnSchema>& schema_columns) {
  std::vector<char> cells_fit(input.columns.size(), 0);
  for (std::size_t column_idx = 0; column_idx < input.columns.size(); ++column_idx) {
    arrow::TypedColumn& typed = input.typed[column_idx];
    if (typed.kind != arrow::TypedColumn::Kind::Temporal) continue;
    ColumnInput& column = input.columns[column_idx];
    bool compared = false;
    for (const SuggestedColumnSchema& schema_column : schema_columns) {
      compared = compared || (schema_column.name == column.name && schema_column.constraints.allowed_values);
    }
    if (!compared) {
      cells_fit[column_idx] = 1;
      continue;
    }
    ColumnValues texts;
    texts.reserve(column.values.size());
    char buffer[48];
    for (const Cell& cell : column.values.cells()) {
      if (cell.is_null()) {
        texts.push_null();
      } else {
        texts.push_text({buffer, arrow::temporal_text(typed.format, cell.as_integer(), buffer)});
      }
    }
    column.values = std::move(texts);
    typed = arrow::TypedColumn();
  }
  return cells_fit;
}

}  // namespace

PyObject* validate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    const Py_ssize_t positional = PyVectorcall_NARGS(nargs);
    if ((positional != 4 && positional != 5) || (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0)) {
      return CoreError::type_error("validate() takes 4 or 5 positional arguments");
    }
    // A list or tuple of column tuples is converted after the schema arguments are taken, as
    // the core does; Arrow data is read first, so that its adapters' errors come first.
    const bool reads_first = !PyList_Check(args[0]) && !PyTuple_Check(args[0]);
    EngineColumns input;
    std::optional<ExecutionContext> context;
    if (reads_first) {
      NOLT_ASSIGN_OR_RETURN(context, engine_context(positional == 5 ? args[4] : nullptr));
      NOLT_ASSIGN_OR_RETURN(input, engine_columns("columns", args[0], *context, TypedForms::TemporalOnly));
    } else {
      NOLT_TRY(py::sequence_argument("columns", args[0]));
    }
    const bool from_file = args[1] != Py_None;
    std::string schema_path;
    std::vector<py::SchemaColumnSpec> taken_columns;
    if (from_file) {
      NOLT_ASSIGN_OR_RETURN(schema_path, py::text_argument("schema_path", args[1]));
    } else {
      NOLT_ASSIGN_OR_RETURN(taken_columns, py::take_schema_columns(args[2]));
    }
    const int failure_cases = PyObject_IsTrue(args[3]);
    if (failure_cases < 0) return py::fetch_error();
    if (!reads_first) {
      NOLT_ASSIGN_OR_RETURN(context, engine_context(positional == 5 ? args[4] : nullptr));
      NOLT_ASSIGN_OR_RETURN(input, engine_columns("columns", args[0], *context, TypedForms::TemporalOnly));
    }
    std::vector<SuggestedColumnSchema> schema_columns;
    if (from_file) {
      NOLT_ASSIGN_OR_RETURN(SuggestedDatasetSchema schema, load_suggested_schema(schema_path, py::core_context()));
      schema_columns = std::move(schema.columns);
    } else {
      NOLT_ASSIGN_OR_RETURN(schema_columns, py::build_suggested_columns(std::move(taken_columns)));
    }
    NOLT_ASSIGN_OR_RETURN(std::vector<DetailedIssue> issues, without_interpreter_lock([&] {
                            const std::vector<char> cells_fit = temporal_cells_fit(input, schema_columns);
                            return validate_with_detail(input.columns, schema_columns, *context, cells_fit);
                          }));
    return py::detailed_report_to_dict(issues, failure_cases != 0);
  });
}

}  // namespace nolt::engine
