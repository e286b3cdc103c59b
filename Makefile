# Two entry points for a fresh Debian 12 machine: `make run` and `make test`.
# Both install what is missing first (scripts/install-deps).
.PHONY: run test deps native win32 wine release fuzz bench test-native test-wine corpus clean

JOBS ?= $(shell nproc)

deps:
	@scripts/install-deps

native: deps
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS)

win32: deps
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32 -j $(JOBS)

wine: deps
	@cmake --preset wine >/dev/null
	@cmake --build --preset wine -j $(JOBS)

release: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)

test-native: native
	ctest --preset native -j $(JOBS)

test-wine: wine
	ctest --preset wine -j $(JOBS)

test: deps
	@$(MAKE) --no-print-directory test-native
	@$(MAKE) --no-print-directory win32
	@$(MAKE) --no-print-directory test-wine
	@scripts/test-summary

# The wizard under Wine: on $DISPLAY when set, otherwise driven through on
# Xvfb, leaving screenshots of its pages (see scripts/run-main).
run: deps
	@scripts/run-main

fuzz: deps
	@scripts/run-fuzz $(FUZZ_SECONDS)

bench: release
	@bench/run-bench

clean:
	rm -rf build
