# The two commands: `make run` shows the widget with a live count; `make test` runs every test.
# Each installs what is missing first (Debian 12), then builds.

SHELL := /bin/bash
NATIVE := build/native
WIN := build/mingw32
# Wine runs the 32-bit widget in a 32-bit process. On a kernel that cannot start one
# (ia32_emulation=off) `make run` and the end-to-end cases take the same sources built for
# 64-bit Windows.
WIN_RUN = $(shell source tools/wine-env.sh && can_run_32bit && echo $(WIN) || echo build/mingw64)
JOBS ?= 2

.PHONY: run test deps build native windows windows64 unit fuzz e2e bench clean release package-service \
  test-service-ops

run: build
	@[ $(WIN_RUN) = $(WIN) ] || $(MAKE) --no-print-directory windows64
	tools/run.sh $(NATIVE) $(WIN_RUN)

test: build
	@start=$$(date +%s); set -o pipefail; \
	tools/code-lines && \
	ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS) && \
	$(MAKE) --no-print-directory test-service-ops && \
	$(MAKE) --no-print-directory fuzz && \
	$(MAKE) --no-print-directory release && tests/release/check.sh && \
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

windows64:
	@cmake --preset mingw64 >/dev/null
	@cmake --build --preset mingw64

unit: native
	ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS)

fuzz:
	@for script in fuzz/run.sh service/fuzz/run.sh; do \
	  if [ -x $$script ]; then $$script build/fuzz/$$(dirname $$script) 15 || exit 1; fi; \
	done

# The widget under Wine, against a scripted server and against the real service.
e2e: windows
	@[ $(WIN_RUN) = $(WIN) ] || $(MAKE) --no-print-directory windows64
	@cmake --preset native >/dev/null
	@cmake --build --preset native --target strikecountd
	@if [ -x tests/e2e/run.sh ]; then tests/e2e/run.sh $(WIN_RUN); fi

# strikecountd as a Debian package, by dpkg-buildpackage from debian/:
# build/package/strikecountd_<version>_<arch>.deb
package-service:
	@service/deploy/package.sh build/package $(JOBS)

# The service in production on loopback: package, GLM sync, certificate reload, drain, HAProxy.
test-service-ops: package-service
	service/tests/ops_test.py build/package

# The Windows release in dist/: installer, portable zip, SHA256SUMS (release/build.sh).
# make release [SERVICE_URL=https://host[:port]] [SIGN_KEY=key.pem SIGN_CERT=cert.pem]
release: deps
	@SERVICE_URL='$(SERVICE_URL)' SIGN_KEY='$(SIGN_KEY)' SIGN_CERT='$(SIGN_CERT)' JOBS=$(JOBS) \
	  release/build.sh

bench: build
	@tools/install-deps.sh bench
	@for script in bench/*.sh bench/*/run.sh; do [ -x $$script ] && $$script $(NATIVE); done; true

clean:
	rm -rf build
