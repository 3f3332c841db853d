#!/bin/sh
# Starts and never says where it serves.
exec sleep 120
