# I due comandi del README: make run, make test.
BUILD ?= build
.PHONY: all build run test bench setup setup-test clean

all: build

setup:
	@scripts/setup

setup-test:
	@scripts/setup --test

build: setup
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja
	@cmake --build $(BUILD)

run: build
	$(BUILD)/ormeggio

test: setup-test build
	@scripts/test

bench: setup-test build
	@scripts/bench

clean:
	rm -rf $(BUILD)
