"""A tour of _nolt_core on the bundled orders dataset.

Profiles the first version, derives and saves its suggested schema, validates
the second version against the saved file, then compares the two versions and
reports the schema drift between them.
"""

import csv
import json
import pathlib
import tempfile

import _nolt_core

HERE = pathlib.Path(__file__).resolve().parent

# The declared logical type of every column the example files may hold.
TYPES = {
    "order_id": "integer",
    "quantity": "integer",
    "unit_price": "float",
    "size": "categorical",
    "gift_wrap": "boolean",
    "ordered_on": "datetime",
    "customer": "string",
    "channel": "categorical",
}


def parse_cell(text, logical_type):
    if text == "":
        return None
    if logical_type == "integer":
        return int(text)
    if logical_type == "float":
        return float(text)
    if logical_type == "boolean":
        return text == "true"
    return text


def read_dataset(path):
    """Reads a CSV file into the column tuples the module takes."""
    with open(path, newline="", encoding="utf-8") as handle:
        rows = list(csv.DictReader(handle))
    names = list(rows[0]) if rows else []
    return [(name, TYPES[name], [parse_cell(row[name], TYPES[name]) for row in rows]) for name in names]


def show(title, value):
    print(f"\n== {title} ==")
    print(json.dumps(value, indent=2, ensure_ascii=False))


def profile_table(profile):
    print(f"\n== profile_dataset: {profile['row_count']} rows ==")
    print(f"{'column':<12} {'type':<12} {'nulls':>5} {'distinct':>8} {'min':>9} {'median':>9} {'max':>9}")
    for column in profile["columns"]:
        stats = column["numeric_stats"]
        numbers = ["" if stats is None else f"{stats[key]:.2f}" for key in ("min", "median", "max")]
        print(
            f"{column['name']:<12} {column['logical_type']:<12} {column['null_count']:>5} "
            f"{column['unique_count']:>8} {numbers[0]:>9} {numbers[1]:>9} {numbers[2]:>9}"
        )


def main():
    before = read_dataset(HERE / "orders.csv")
    after = read_dataset(HERE / "orders_v2.csv")
    print(f"_nolt_core {_nolt_core.version()}")

    profile_table(_nolt_core.profile_dataset(before))
    suggested = _nolt_core.suggest_schema_dataset(before)
    show("suggest_schema_dataset (orders.csv)", suggested)

    with tempfile.TemporaryDirectory() as folder:
        schema_path = str(pathlib.Path(folder) / "orders.schema.json")
        _nolt_core.save_suggested_schema_dataset(before, schema_path)
        print(f"\n== save_suggested_schema_dataset wrote {pathlib.Path(schema_path).stat().st_size} bytes ==")
        show("validate_dataset_file (orders_v2.csv against the saved schema)",
             _nolt_core.validate_dataset_file(after, schema_path))

    comparison = _nolt_core.compare_datasets(before, after)
    summary = {key: value for key, value in comparison.items() if key != "columns"}
    summary["columns"] = [
        {"name": entry["name"], "status": entry["status"], "changes": entry["changes"]}
        for entry in comparison["columns"]
    ]
    show("compare_datasets (orders.csv -> orders_v2.csv)", summary)
    show("schema_drift_datasets (orders.csv -> orders_v2.csv)", _nolt_core.schema_drift_datasets(before, after))


if __name__ == "__main__":
    main()
