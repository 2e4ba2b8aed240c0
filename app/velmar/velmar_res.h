// Resource ids of velmar.exe's own resources.
#pragma once

// Node and project-item icons; image index in both image lists = id - IDI_NODE_FIRST.
#define IDI_NODE_FIRST 9000
#define IDI_NODE_LAST 9014
