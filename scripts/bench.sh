#!/usr/bin/env bash
echo "The benchmark is not available yet."
