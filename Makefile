# Entry points: `make demo` and `make test`; `make setup` alone does the set-up `make test` does.
VENV_PY := .venv/bin/python
CMAKE := .venv/bin/cmake
CTEST := .venv/bin/ctest
JOBS ?= 2

.PHONY: setup demo test test-cpp test-python sanitize bench bench-engine wheel wheel-smoke clean

setup:
	@bash scripts/setup.sh test

# The demo's own set-up: no browser and no test-only packages.
demo:
	@bash scripts/setup.sh demo
	@$(VENV_PY) examples/demo.py

# The suites run after the set-up, also under `make -j`.
test: setup
	@$(MAKE) --no-print-directory test-cpp
	@$(MAKE) --no-print-directory test-python

test-cpp:
	@$(CMAKE) -S . -B build/cpp-tests -G Ninja -DCMAKE_MAKE_PROGRAM=$(CURDIR)/.venv/bin/ninja \
		-DCMAKE_BUILD_TYPE=Release -DNOLT_BUILD_TESTS=ON -DNOLT_BUILD_MODULE=OFF -DNOLT_DEBUG_CHECKS=ON >/dev/null
	@$(CMAKE) --build build/cpp-tests -j $(JOBS)
	@$(CTEST) --test-dir build/cpp-tests --output-on-failure -j $(JOBS)

test-python:
	@$(VENV_PY) -m pytest tests/python

# The whole Python suite against a debug build under ASan and UBSan.
sanitize: setup
	@bash scripts/sanitize.sh

# Time and memory against pandas, polars, pyarrow and a floor that only touches
# every cell; prints the tables and writes them to bench/RESULTS.md.
# BENCH_ARGS passes options, e.g. BENCH_ARGS="--max-rows 1000000 --no-memory".
bench: setup
	@$(VENV_PY) -m pip install -q --disable-pip-version-check -r bench/requirements.txt
	@$(VENV_PY) bench/build_floor.py build/bench
	@PYTHONPATH=build/bench $(VENV_PY) bench/run_bench.py --write bench/RESULTS.md $(BENCH_ARGS)

# nolt's engine against polars and pyarrow on a mixed frame, a Parquet file and thread counts;
# writes bench/RESULTS_ENGINE.md (BENCH_ARGS as above, e.g. BENCH_ARGS="--rows 200000").
bench-engine: setup
	@$(VENV_PY) -m pip install -q --disable-pip-version-check -r bench/requirements.txt
	@$(VENV_PY) bench/bench_engine.py --write bench/RESULTS_ENGINE.md $(BENCH_ARGS)

# The sdist and a self-contained manylinux wheel in dist/ (see scripts/wheel.sh);
# wheel-smoke then installs that wheel into a fresh venv outside the tree and checks it.
wheel: setup
	@JOBS=$(JOBS) bash scripts/wheel.sh dist

wheel-smoke: wheel
	@JOBS=$(JOBS) $(VENV_PY) scripts/wheel_smoke.py dist

clean:
	rm -rf build
