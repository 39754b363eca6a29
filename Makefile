# SPDX-License-Identifier: GPL-3.0-or-later
# The two set-up commands: `make run` and `make test`. Everything else is a helper.
BUILD   ?= build
JOBS    ?= $(shell nproc)
DATA    ?= $(or $(XDG_DATA_HOME),$(HOME)/.local/share)/allstats
DEMO_DB ?= $(DATA)/demo.sqlite
OUT     ?= $(DATA)/out

.PHONY: all deps build run test bench package check format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-demo.sh "$(BUILD)" "$(DEMO_DB)" "$(OUT)"

test: build
	@scripts/test.sh "$(BUILD)"

bench: build
	@scripts/bench.sh "$(BUILD)"

package: build
	@cmake --build $(BUILD) --target package

check: format test

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD)
