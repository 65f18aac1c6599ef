// The engine's dataset arguments: column tuples, or Arrow data taken over
// through the PyCapsule protocol of the Arrow C data and stream interfaces.
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "arrow_columns.h"
#include "engine_entry_points.h"
#include "ingest/convert.h"

namespace nolt::engine {
namespace {

using arrow::Chunk;
using arrow::OwnedArray;
using arrow::OwnedSchema;
using arrow::OwnedStream;
using py::PyRef;

using arrow::ImportedArrow;

bool exports_arrow(PyObject* object) {
  return PyObject_HasAttrString(object, "__arrow_c_stream__") == 1 ||
         PyObject_HasAttrString(object, "__arrow_c_array__") == 1;
}

template <class Struct>
Result<Struct*> capsule_pointer(PyObject* capsule, const char* name) {
  void* pointer = PyCapsule_GetPointer(capsule, name);
  if (pointer == nullptr) return py::fetch_error();
  return static_cast<Struct*>(pointer);
}

CoreError stream_error(ArrowArrayStream* stream, int code) {
  const char* detail = stream->get_last_error == nullptr ? nullptr : stream->get_last_error(stream);
  return CoreError::value_error(
      str_cat("reading the Arrow data failed: ", detail == nullptr ? std::string("error ") + std::to_string(code) : detail));
}

Result<ImportedArrow> import_stream(PyObject* source) {
  PyRef capsule = PyRef::steal(PyObject_CallMethod(source, "__arrow_c_stream__", nullptr));
  if (!capsule) return py::fetch_error();
  NOLT_ASSIGN_OR_RETURN(ArrowArrayStream * exported, capsule_pointer<ArrowArrayStream>(capsule.get(), "arrow_array_stream"));
  OwnedStream stream = OwnedStream::take(exported);
  ImportedArrow imported;
  ArrowSchema schema;
  schema.release = nullptr;
  if (const int code = stream.get()->get_schema(stream.get(), &schema); code != 0) return stream_error(stream.get(), code);
  imported.schema = OwnedSchema::take(&schema);
  while (true) {
    ArrowArray batch;
    batch.release = nullptr;
    if (const int code = stream.get()->get_next(stream.get(), &batch); code != 0) return stream_error(stream.get(), code);
    if (batch.release == nullptr) break;  // the end of the stream
    imported.batches.push_back(OwnedArray::take(&batch));
  }
  return imported;
}

Result<ImportedArrow> import_array(PyObject* source) {
  PyRef pair = PyRef::steal(PyObject_CallMethod(source, "__arrow_c_array__", nullptr));
  if (!pair) return py::fetch_error();
  if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
    return CoreError::type_error("__arrow_c_array__ must return a pair of capsules");
  }
  NOLT_ASSIGN_OR_RETURN(ArrowSchema * schema, capsule_pointer<ArrowSchema>(PyTuple_GET_ITEM(pair.get(), 0), "arrow_schema"));
  NOLT_ASSIGN_OR_RETURN(ArrowArray * array, capsule_pointer<ArrowArray>(PyTuple_GET_ITEM(pair.get(), 1), "arrow_array"));
  ImportedArrow imported;
  imported.schema = OwnedSchema::take(schema);
  imported.batches.push_back(OwnedArray::take(array));
  return imported;
}

Result<ImportedArrow> import_arrow(PyObject* source) {
  if (PyObject_HasAttrString(source, "__arrow_c_stream__") == 1) return import_stream(source);
  return import_array(source);
}

// One column of the imported data: its field and its pieces in every batch.
struct ArrowColumn {
  const ArrowSchema* field;
  std::vector<Chunk> chunks;
};

// A struct (a table's or batch's rows) gives one column per child; any other
// type is one column. Batches whose rows themselves hold nulls give no chunks
// and are left to the adapters (`readable` false).
Result<std::vector<ArrowColumn>> arrow_columns(const ImportedArrow& imported, bool& readable) {
  const ArrowSchema& root = *imported.schema;
  std::vector<ArrowColumn> columns;
  readable = true;
  if (std::string_view(root.format == nullptr ? "" : root.format) != "+s") {
    columns.push_back({&root, {}});
    for (const OwnedArray& batch : imported.batches) columns[0].chunks.push_back({batch.operator->(), 0, batch->length});
    return columns;
  }
  for (std::int64_t field_idx = 0; field_idx < root.n_children; ++field_idx) columns.push_back({root.children[field_idx], {}});
  for (const OwnedArray& batch : imported.batches) {
    if (batch->n_children != root.n_children) return CoreError::value_error("an Arrow batch does not match its schema");
    if (batch->null_count != 0 && batch->n_buffers > 0 && batch->buffers[0] != nullptr) readable = false;
    for (std::int64_t field_idx = 0; field_idx < root.n_children; ++field_idx) {
      columns[static_cast<std::size_t>(field_idx)].chunks.push_back(
          {batch->children[field_idx], batch->offset, batch->length});
    }
  }
  return columns;
}

// A column's declared type in a plan: a logical type, its Arrow type's own
// (nullopt), or none at all when the plan leaves the column to its adapter.
struct Declared {
  std::optional<LogicalType> type;
  bool adapter_only = false;
};

Result<std::vector<Declared>> declared_types(PyObject* types, std::size_t column_count) {
  std::vector<Declared> declared(column_count);
  if (types == nullptr || types == Py_None) return declared;
  NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, py::sequence_items(types));
  if (items.size() != column_count) {
    return CoreError::value_error(str_cat("types names ", items.size(), " columns; the Arrow data has ", column_count));
  }
  for (std::size_t column_idx = 0; column_idx < column_count; ++column_idx) {
    PyObject* item = items[column_idx].get();
    if (item == Py_None) continue;
    if (item == Py_False) {
      declared[column_idx].adapter_only = true;
      continue;
    }
    NOLT_ASSIGN_OR_RETURN(std::string name, py::extract_text(item));
    NOLT_ASSIGN_OR_RETURN(declared[column_idx].type, parse_logical_type(name));
  }
  return declared;
}

Result<PyObject*> plan_item(PyObject* plan, const char* key) {
  PyObject* item = PyDict_GetItemString(plan, key);  // borrowed
  if (item == nullptr) return CoreError::type_error(str_cat("an Arrow plan needs the key '", key, "'"));
  return item;
}

// A column of dictionary indexes whose dictionary is handed over apart: the
// column's field and arrays as they would be with the dictionary attached
// (shallow copies that release nothing: the imported data owns it all).
struct AttachedDictionary {
  ImportedArrow dictionary;
  ArrowSchema field;
  std::vector<ArrowArray> arrays;
};

// Attaches `dictionary` (an object exporting one Arrow array) to a column of
// integers; nullptr where the column or the dictionary does not fit, and the
// column is left to its adapter.
Result<std::unique_ptr<AttachedDictionary>> attach_dictionary(PyObject* dictionary, ArrowColumn& column) {
  NOLT_ASSIGN_OR_RETURN(ImportedArrow imported, import_arrow(dictionary));
  const std::string_view index_format(column.field->format == nullptr ? "" : column.field->format);
  const bool integers = index_format.size() == 1 && std::string_view("cCsSiIlL").find(index_format[0]) != std::string_view::npos;
  if (!integers || column.field->dictionary != nullptr || imported.batches.size() != 1 ||
      std::string_view(imported.schema->format == nullptr ? "" : imported.schema->format) == "+s") {
    return std::unique_ptr<AttachedDictionary>();
  }
  auto attached = std::make_unique<AttachedDictionary>();
  attached->dictionary = std::move(imported);
  attached->field = *column.field;
  attached->field.dictionary = attached->dictionary.schema.get();
  attached->field.release = nullptr;
  attached->arrays.reserve(column.chunks.size());
  for (Chunk& chunk : column.chunks) {
    ArrowArray& array = attached->arrays.emplace_back(*chunk.array);
    array.dictionary = attached->dictionary.batches.front().get();
    array.release = nullptr;
    chunk.array = &array;
  }
  column.field = &attached->field;
  return attached;
}

// The columns of Arrow data, those that can be in their typed form.
// `dictionaries` (None or a sequence with None or an Arrow array per column)
// gives the dictionary of columns that hold its indexes.
Result<EngineColumns> read_arrow(PyObject* source, PyObject* types, PyObject* dictionaries, PyObject* fallback,
                                 const ExecutionContext& context, TypedForms forms) {
  NOLT_ASSIGN_OR_RETURN(ImportedArrow imported, import_arrow(source));
  bool readable = true;
  NOLT_ASSIGN_OR_RETURN(std::vector<ArrowColumn> sources, arrow_columns(imported, readable));
  const std::size_t column_count = sources.size();
  NOLT_ASSIGN_OR_RETURN(auto declared, declared_types(types, column_count));
  std::vector<std::unique_ptr<AttachedDictionary>> attached;
  if (dictionaries != nullptr && dictionaries != Py_None) {
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, py::sequence_items(dictionaries));
    if (items.size() != column_count) {
      return CoreError::value_error(
          str_cat("dictionaries names ", items.size(), " columns; the Arrow data has ", column_count));
    }
    for (std::size_t column_idx = 0; column_idx < column_count; ++column_idx) {
      if (items[column_idx].get() == Py_None || declared[column_idx].adapter_only) continue;
      NOLT_ASSIGN_OR_RETURN(auto dictionary, attach_dictionary(items[column_idx].get(), sources[column_idx]));
      if (dictionary == nullptr) {
        declared[column_idx].adapter_only = true;
      } else {
        attached.push_back(std::move(dictionary));
      }
    }
  }

  EngineColumns result;
  std::vector<ColumnInput>& columns = result.columns;
  columns.resize(column_count);
  result.typed.resize(column_count);
  std::vector<char> handled(column_count, 0);
  for (std::size_t column_idx = 0; column_idx < column_count; ++column_idx) {
    const char* name = sources[column_idx].field->name;
    columns[column_idx].name = name == nullptr ? "" : name;
    const auto natural = arrow::natural_logical_type(*sources[column_idx].field);
    columns[column_idx].logical_type = declared[column_idx].type.value_or(natural.value_or(LogicalType::Unknown));
    handled[column_idx] = readable && natural.has_value() && !declared[column_idx].adapter_only;
  }
  // A stop request is looked at before each column is read.
  NOLT_TRY(without_interpreter_lock([&] {
    return run_until_failure(context, column_count, [&](std::size_t column_idx) -> Status {
      if (!handled[column_idx]) return Status();
      ColumnInput& column = columns[column_idx];
      const ArrowColumn& arrow_column = sources[column_idx];
      const bool typed = forms != TypedForms::TemporalOnly ||
                         arrow::natural_logical_type(*arrow_column.field) == LogicalType::Datetime;
      const bool read =
          typed ? arrow::read_typed_column(*arrow_column.field, arrow_column.chunks, column.logical_type, column.values,
                                           result.typed[column_idx], forms == TypedForms::All)
                : arrow::read_column(*arrow_column.field, arrow_column.chunks, column.logical_type, column.values);
      if (!read) {
        handled[column_idx] = 0;
        column.values = ColumnValues();
        result.typed[column_idx] = arrow::TypedColumn();
      }
      return Status();
    });
  }));
  for (std::size_t column_idx = 0; column_idx < column_count; ++column_idx) {
    if (handled[column_idx]) continue;
    if (fallback == nullptr) {
      const char* format = sources[column_idx].field->format;
      return CoreError::type_error(str_cat("column '", columns[column_idx].name, "' has the Arrow type '",
                                           format == nullptr ? "" : format, "', which nolt reads through its adapters"));
    }
    PyRef item = PyRef::steal(PyObject_CallFunction(fallback, "n", static_cast<Py_ssize_t>(column_idx)));
    if (!item) return py::fetch_error();
    std::vector<PyRef> items;
    items.push_back(std::move(item));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> converted, py::convert_columns(std::move(items)));
    columns[column_idx] = std::move(converted.front());
  }
  // The columns view the texts of the data.
  result.arrow.push_back(std::move(imported));
  for (auto& dictionary : attached) result.arrow.push_back(std::move(dictionary->dictionary));
  return result;
}

}  // namespace

Result<EngineColumns> engine_columns(std::string_view name, PyObject* data, const ExecutionContext& context,
                                     TypedForms forms) {
  if (PyDict_Check(data)) {
    NOLT_ASSIGN_OR_RETURN(PyObject * source, plan_item(data, "arrow"));
    NOLT_ASSIGN_OR_RETURN(PyObject * types, plan_item(data, "types"));
    NOLT_ASSIGN_OR_RETURN(PyObject * fallback, plan_item(data, "fallback"));
    PyObject* dictionaries = PyDict_GetItemString(data, "dictionaries");  // borrowed; optional
    if (dictionaries != nullptr && dictionaries != Py_None) {
      // (the data with dictionary columns as their indexes, the dictionaries)
      if (!PyTuple_Check(dictionaries) || PyTuple_GET_SIZE(dictionaries) != 2) {
        return CoreError::type_error("an Arrow plan's 'dictionaries' must be a pair");
      }
      source = PyTuple_GET_ITEM(dictionaries, 0);
      dictionaries = PyTuple_GET_ITEM(dictionaries, 1);
    }
    return read_arrow(source, types, dictionaries, fallback == Py_None ? nullptr : fallback, context, forms);
  }
  if (!PyUnicode_Check(data) && exports_arrow(data)) {
    return read_arrow(data, nullptr, nullptr, nullptr, context, forms);
  }
  NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, py::sequence_argument(name, data));
  EngineColumns result;
  NOLT_ASSIGN_OR_RETURN(result.columns, py::convert_columns(std::move(items)));
  result.typed.resize(result.columns.size());
  return result;
}

}  // namespace nolt::engine
