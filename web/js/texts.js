// The window's texts for the values of a device row and of a run.
export const roleText = { viewer: "查看员", operator: "操作员", admin: "管理员" };

export const groupText = (g) => (g >= 1 && g <= 6 ? `Link_${g}` : "UnLinked");
export const modeText = (m) => (m ? "Serial" : "Pall");
export const masterText = (on) => (on ? "ON" : "OFF");
export const onlineText = (online) => (online ? "在线" : "离线");

const outcome = {
  running: "进行中",
  done: "完成",
  timeout: "超时",
  cancelled: "已取消",
  "device-lost": "设备掉线",
};

export const seconds = (ms) => `${(Math.max(0, ms) / 1000).toFixed(1)}秒`;

export function runTitle(run) {
  return `${run.kind === "serial" ? "串行" : "平行"}${run.on ? "开" : "关"} Link${run.group}`;
}

// "进行中 1/3, 正在切换设备1002, 已用2.1秒", or "完成 3/3, 用时4.0秒".
export function runStatus(run, elapsedMs) {
  const progress = `${run.done}/${run.total}`;
  if (run.state === "running") {
    const current = run.current != null ? `, 正在切换设备${run.current}` : "";
    return `进行中 ${progress}${current}, 已用${seconds(elapsedMs)}`;
  }
  return `${outcome[run.state] || run.state} ${progress}, 用时${seconds(elapsedMs)}`;
}

export function deviceName(device) {
  return device && device.name ? `设备${device.id}(${device.name})` : `设备${device && device.id}`;
}

export function timeText(date) {
  const two = (n) => String(n).padStart(2, "0");
  return `${two(date.getHours())}:${two(date.getMinutes())}:${two(date.getSeconds())}`;
}
