# Two entry points for a fresh Debian 12 machine: `make run` and `make test`.
# Both install what is missing first (scripts/install-deps).
.PHONY: run test deps native win32 wine32 wine release fuzz bench sign test-native test-ship test-wine32 test-wine corpus clean

JOBS ?= $(shell nproc)
SHIPPED = build/win32/app/QuvSetup.exe build/win32/payload/QuvSvr.exe build/win32/payload/UnInstall.exe build/win32/cli/quvunzip.exe

deps:
	@scripts/install-deps

native: deps
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS)

win32: deps
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32 -j $(JOBS)

wine32: deps
	@cmake --preset wine32 >/dev/null
	@cmake --build --preset wine32 -j $(JOBS)

wine: deps
	@cmake --preset wine >/dev/null
	@cmake --build --preset wine -j $(JOBS)

release: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)

test-native: native
	ctest --preset native -j $(JOBS)

# What the shipped i686 programs import (Windows XP SP3 must have it all).
test-ship: win32
	ctest --preset win32

# The Wine tests against the shipped i686 programs, or with the x86-64 build
# where this machine cannot execute 32-bit code (scripts/test-windows picks).
test-wine32: win32 wine32
	ctest --preset wine32 -j $(JOBS)

test-wine: wine
	ctest --preset wine -j $(JOBS)

test: deps
	@$(MAKE) --no-print-directory test-native
	@$(MAKE) --no-print-directory test-ship
	@MAKE=$(MAKE) scripts/test-windows
	@scripts/test-summary

# The wizard under Wine: on $DISPLAY when set, otherwise driven through on
# Xvfb, leaving screenshots of its pages (see scripts/run-main).
run: deps
	@scripts/run-main

fuzz: deps
	@scripts/run-fuzz $(FUZZ_SECONDS)

bench: release
	@bench/run-bench $(BENCH_ARGS)

# Authenticode signatures on the shipped programs: QUV_SIGN_CERT names a
# PKCS#12 file, QUV_SIGN_PASSWORD its password. The programs are linked
# again so that the wizard carries the signed payload.
sign: win32
	@test -n "$$QUV_SIGN_CERT" || { echo "make sign: set QUV_SIGN_CERT (a .pfx file) and QUV_SIGN_PASSWORD" >&2; exit 2; }
	@rm -f $(SHIPPED)
	@cmake --build --preset win32 -j $(JOBS)
	@for f in $(SHIPPED); do rm -f $$f.sig; osslsigncode extract-signature -in $$f -out $$f.sig >/dev/null && rm -f $$f.sig || { echo "make sign: $$f has no signature" >&2; exit 1; }; done
	@echo "signed: $(SHIPPED)"

clean:
	rm -rf build
