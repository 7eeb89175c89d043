# The two commands: `make run` shows the widget with a live count; `make test` runs every test.
# Each installs what is missing first (Debian 12), then builds.

SHELL := /bin/bash
NATIVE := build/native
WIN := build/mingw32
LOCALES := $(CURDIR)/build/locale
JOBS ?= 2

.PHONY: run test deps build native windows unit locale fuzz e2e bench clean

run: build
	tools/run.sh $(NATIVE) $(WIN)

test: build locale
	@start=$$(date +%s); set -o pipefail; \
	LOCPATH=$(LOCALES) ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS) && \
	$(MAKE) --no-print-directory fuzz && \
	$(MAKE) --no-print-directory e2e; rc=$$?; \
	echo "make test took $$(( $$(date +%s) - start )) s"; exit $$rc

deps:
	@tools/install-deps.sh

build: deps native windows

native:
	@cmake --preset native >/dev/null
	@cmake --build --preset native

windows:
	@cmake --preset mingw32 >/dev/null
	@cmake --build --preset mingw32

unit: native locale
	LOCPATH=$(LOCALES) ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS)

# A comma-decimal locale of the build's own, so the tests can show the widget ignores it.
locale:
	@[ -d $(LOCALES)/de_DE.UTF-8 ] || { mkdir -p $(LOCALES) && \
	  localedef -i de_DE -f UTF-8 $(LOCALES)/de_DE.UTF-8; }

fuzz:
	@for script in fuzz/run.sh service/fuzz/run.sh; do \
	  if [ -x $$script ]; then $$script build/fuzz/$$(dirname $$script) 15 || exit 1; fi; \
	done

e2e: windows
	@if [ -x tests/e2e/run.sh ]; then tests/e2e/run.sh $(WIN); fi

bench: build
	@tools/install-deps.sh bench
	@for script in bench/*.sh bench/*/run.sh; do [ -x $$script ] && $$script $(NATIVE); done; true

clean:
	rm -rf build
