# Quick start: `make run` converts the bundled sample, `make test` runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
SAMPLE_OUT ?= $(BUILD)/sample-out

.PHONY: all deps test-deps build run test test-release test-asan clean

all: build

deps:
	@scripts/install-deps.sh build

test-deps:
	@scripts/install-deps.sh test

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF
	cmake --build $(BUILD) -j$(JOBS)

run: build
	mkdir -p $(SAMPLE_OUT)
	./$(BUILD)/kestrel -i examples/sample.psd -o $(SAMPLE_OUT)
	@echo "Written: $(SAMPLE_OUT)/sample.bmp"

test: test-deps test-release test-asan

test-release:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=ON
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE=ON -DKESTREL_TESTS=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
